#pragma once
// Pieces shared by the manager tests that run the real publishing service or talk to the
// monitor: a program directory holding PelorixSvc and a Pelorix.ini, its own service database,
// the lines of the monitor list with their colours, and a plain sender of monitor bytes.

#include "base/Latin1.h"
#include "common/Config.h"
#include "platform/TcpSocket.h"
#include "scm/ServiceControl.h"
#include "scm/ServiceDatabase.h"

#include "ServerProcess.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace mgrtest {

// A program directory with the real service program beside the manager's settings, and a
// service database of its own (PELORIX_SCM_DIR) for as long as the object lives.
class ServiceHome {
public:
    explicit ServiceHome(const std::string& settings) {
        const std::string program = pelorix::test::BinaryPath("src/svc/PelorixSvc");
        std::error_code ec;
        std::filesystem::create_hard_link(program, dir_.File("PelorixSvc"), ec);
        if (ec)
            std::filesystem::copy_file(program, dir_.File("PelorixSvc"), ec);
        ready_ = !ec;
        dir_.Write("Pelorix.ini", settings);
        // Others may look into it, as into any program directory.
        chmod(dir_.Path().c_str(), 0755);
        database_ = dir_.Path() + "services/";
        setenv(pelorix::scm::db::kDirVariable, database_.c_str(), 1);
    }

    ~ServiceHome() {
        chmod(database_.c_str(), 0755);
        for (const auto& name : pelorix::scm::db::ListNames(database_))
            if (const auto status = pelorix::scm::db::LoadStatus(database_, name);
                status && pelorix::scm::db::Alive(*status))
                kill(static_cast<pid_t>(status->pid), SIGKILL);
        unsetenv(pelorix::scm::db::kDirVariable);
    }

    ServiceHome(const ServiceHome&) = delete;
    ServiceHome& operator=(const ServiceHome&) = delete;

    // Settings with which the service starts: valid FTP values, monitor lines at every level.
    static std::string TalkativeSettings() {
        return "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=" +
               pelorix::ScramblePassword("geheim") +
               "\r\nFTPSite=/page.htm\r\nRouter=0\r\nMessages=1\r\nMsgLevel=4\r\nLogFile=0\r\n";
    }

    bool Ready() const { return ready_; }
    const pelorix::test::TempDir& Dir() const { return dir_; }
    const std::string& Database() const { return database_; }
    std::string Program() const { return dir_.File("PelorixSvc"); }

private:
    pelorix::test::TempDir dir_;
    std::string database_;
    bool ready_ = false;
};

// One line of the monitor list and the colour it is drawn in.
struct ListLine {
    QString text;
    QColor colour;
};

inline std::vector<ListLine> ListLines(const QTextEdit* list) {
    std::vector<ListLine> lines;
    const QTextDocument* document = list->document();
    if (document->isEmpty())
        return lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        QColor colour = block.charFormat().foreground().color();
        if (block.begin() != block.end())
            colour = block.begin().fragment().charFormat().foreground().color();
        lines.push_back({block.text(), colour});
    }
    return lines;
}

// The index of the first list line that contains text, or -1.
inline int FindLine(const QTextEdit* list, const QString& text) {
    const std::vector<ListLine> lines = ListLines(list);
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].text.contains(text))
            return static_cast<int>(i);
    return -1;
}

// Waits (running the event loop) until the list holds a line with text; its index or -1.
inline int WaitForLine(const QTextEdit* list, const QString& text, int timeoutMs = 15000) {
    QElapsedTimer timer;
    timer.start();
    int index = FindLine(list, text);
    while (index < 0 && timer.elapsed() < timeoutMs) {
        QTest::qWait(20);
        index = FindLine(list, text);
    }
    return index;
}

// A sender of raw bytes to the monitor port on 127.0.0.1.
inline bool SendToMonitor(const std::string& bytes) {
    pelorix::TcpSocket socket;
    return socket.Connect("127.0.0.1", 60123, 2000) == pelorix::TcpResult::Ok &&
           socket.SendAll(bytes, 2000) == pelorix::TcpResult::Ok;
}

// Runs the event loop until the peer has closed socket (or timeoutMs passed); true when closed.
inline bool WaitUntilClosedByPeer(pelorix::TcpSocket& socket, int timeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents();
        char byte = 0;
        std::size_t received = 0;
        const pelorix::TcpResult result = socket.Receive(&byte, 1, 10, received);
        if (result == pelorix::TcpResult::Closed || result == pelorix::TcpResult::Failed)
            return true;
    }
    return false;
}

} // namespace mgrtest
