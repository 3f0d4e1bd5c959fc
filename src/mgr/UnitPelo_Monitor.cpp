// Page "Service-Monitor": the monitor receiver (listening socket, on/off button, list of
// status lines, status-bar images) of the main window. Everything runs on the window's thread:
// the server socket delivers its events there.
//
// Each connection collects its bytes until a line feed, so a line that arrives in several
// pieces is shown whole, once. A connection that sends more than a line's worth of bytes
// without a line feed, or that stays silent too long, is closed.

#include "mgr/UnitPelo.h"

#include "mgr/MgrWidgets.h"
#include "mgr/MsgBox.h"
#include "mgr/TBProcs.h"
#include "mgrcore/MonitorLine.h"
#include "platform/SystemMessage.h"
#include "svc/StatusLog.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <cerrno>
#include <memory>

namespace {

// The longest line a connection may send; the service's lines are far shorter.
constexpr qint64 kMaxLineBytes = 64 * 1024;
// A connection that sends nothing for this long is closed.
constexpr int kIdleConnectionMs = 10000;
// How often an open connection is looked at.
constexpr int kWatchIntervalMs = 250;
// More simultaneous connections than this are refused at once.
constexpr int kMaxConnections = 256;

constexpr int kMaxLines = pelorix::kMaxMonitorLines;
constexpr int kDropLines = pelorix::kDropMonitorLines;

// The German system text for a failure of the listening socket.
QString ListenErrorText(QAbstractSocket::SocketError error) {
    int errnoValue = EIO;
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        errnoValue = EADDRINUSE;
        break;
    case QAbstractSocket::SocketAccessError:
        errnoValue = EACCES;
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        errnoValue = EADDRNOTAVAIL;
        break;
    case QAbstractSocket::SocketResourceError:
        errnoValue = EMFILE;
        break;
    default:
        break;
    }
    return QStringLiteral("Socket-Fehler auf Port %1: ").arg(pelorix::kMonitorPort) +
           QString::fromLatin1(pelorix::SystemErrorText(errnoValue));
}

// Closes a connection for good: no further events reach the window, and it no longer counts
// as open (the server's children are the open connections). It moves to closed, where the
// event loop deletes it, or the window's end if the loop does not come to it.
void ReleaseConnection(QTcpSocket* socket, QObject* closed) {
    for (QTimer* timer : socket->findChildren<QTimer*>())
        timer->stop();
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->abort();
    socket->setParent(closed);
    socket->deleteLater();
}

} // namespace

// The receiver's own state besides the window's fields.
struct MonitorPart {
    QPointer<QTcpServer> server;
    QObject* closed = nullptr; // connections on their way out, a child of the server

    // The window goes before its children: open connections must not call back into it.
    ~MonitorPart() {
        if (!server)
            return;
        for (QTcpSocket* socket : server->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly)) {
            QObject::disconnect(socket, nullptr, nullptr, nullptr);
            delete socket;
        }
    }

    int OpenConnections() const {
        return static_cast<int>(
            server->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly).size());
    }
};

void PartDeleter::operator()(MonitorPart* part) const {
    delete part;
}

void TFrmPelo::MonitorInit() {
    monitor_.reset(new MonitorPart);
    monitor_->server = SrvSock;
    monitor_->closed = new QObject(SrvSock);
    // The list is a log: no undo history that grows with every line.
    List->setUndoRedoEnabled(false);
    ImageKrz->raise(); // drawn over ImageDot
    connect(SrvSock, &QTcpServer::newConnection, this, [this] {
        while (SrvSock->hasPendingConnections())
            SrvSockClientConnect(SrvSock->nextPendingConnection());
    });
}

// --- The list ---------------------------------------------------------------------------------

namespace {

// Appends one line in its colour at the end of the list, keeping the view at the bottom when it
// was there.
void AppendListLine(QTextEdit* list, const QString& text, const QColor& colour) {
    QScrollBar* bar = list->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextDocument* document = list->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(colour);
    if (!document->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), format);
    cursor.insertText(text, format);
    if (atBottom)
        bar->setValue(bar->maximum());
}

// Beyond the limit the oldest lines go, so that the list drops back well below it.
void ApplySizeLimit(QTextEdit* list) {
    QTextDocument* document = list->document();
    if (document->blockCount() <= kMaxLines)
        return;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, kDropLines);
    cursor.removeSelectedText();
}

void AppendNote(QTextEdit* list, const QString& text) {
    AppendListLine(list, text, QColor::fromRgb(pelorix::kNoteBlue));
    ApplySizeLimit(list);
}

} // namespace

// --- Buttons ----------------------------------------------------------------------------------

void TFrmPelo::BtnOnOffClick() {
    if (Tag(BtnOnOff) == 1) {
        BtnOnOff->setIcon(LoadIconRes(QStringLiteral("BMPSTOP")));
        BtnOnOff->setText(QStringLiteral("Monitor &aus"));
        SetTag(BtnOnOff, 0);
        if (!SrvSock->isListening()) {
            // IPv4 only: a peer's address is then always plain dotted text.
            if (!SrvSock->listen(QHostAddress::AnyIPv4, pelorix::kMonitorPort)) {
                MsgBox::ApplicationError(ListenErrorText(SrvSock->serverError()));
                return;
            }
            ImageDot->show();
            SrvSockListen();
            return;
        }
        ImageDot->show();
        return;
    }
    if (SrvSock->isListening())
        SrvSock->close();
    // Lines still on their way are no longer wanted.
    for (QTcpSocket* socket : SrvSock->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly))
        ReleaseConnection(socket, monitor_->closed);
    ImageDot->hide();
    ImageKrz->hide();
    BtnOnOff->setIcon(LoadIconRes(QStringLiteral("BMPSTART")));
    BtnOnOff->setText(QStringLiteral("Monitor &ein"));
    SetTag(BtnOnOff, 1);
    AppendNote(List, FromL1(pelorix::MonitorOffNote()));
}

void TFrmPelo::BtnClearClick() {
    List->clear();
}

void TFrmPelo::SrvSockListen() {
    AppendNote(List, FromL1(pelorix::MonitorOnNote()));
}

// --- Connections ------------------------------------------------------------------------------

void TFrmPelo::SrvSockClientConnect(QTcpSocket* Socket) {
    if (!Socket)
        return;
    // Only the local host may deliver lines.
    if (Socket->peerAddress().toString() != QStringLiteral("127.0.0.1") ||
        monitor_->OpenConnections() > kMaxConnections) {
        Socket->abort();
        delete Socket;
        return;
    }
    Socket->setReadBufferSize(kMaxLineBytes + 1);
    // A connection is read only when the event loop reports its data: reading it from here
    // (or from a timer) would run the line's handlers inside this call, and a modal box opened
    // there would outlive the connection. Data that is already waiting is reported at once.
    auto silence = std::make_shared<QElapsedTimer>();
    silence->start();
    auto* watch = new QTimer(Socket);
    watch->setInterval(kWatchIntervalMs);
    QObject* closed = monitor_->closed;
    connect(watch, &QTimer::timeout, Socket, [Socket, silence, closed] {
        if (silence->hasExpired(kIdleConnectionMs))
            ReleaseConnection(Socket, closed);
    });
    connect(Socket, &QTcpSocket::readyRead, this, [this, Socket, silence] {
        silence->restart();
        SrvSockClientRead(Socket);
    });
    connect(Socket, &QTcpSocket::disconnected, Socket,
            [Socket, closed] { ReleaseConnection(Socket, closed); });
    watch->start();
}

void TFrmPelo::SrvSockClientRead(QTcpSocket* Socket) {
    while (Socket->canReadLine()) {
        QByteArray line = Socket->readLine(kMaxLineBytes + 1);
        if (!line.endsWith('\n'))
            break; // longer than any line may be; closed below
        line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        LineBuffer.assign(line.constData(), static_cast<std::size_t>(line.size()));

        const bool informationLine = pelorix::IsInformationLine(LineBuffer);
        const QString text = QString::fromLatin1(line);
        AppendListLine(List, text, QColor::fromRgb(pelorix::LineColour(LineBuffer)));
        LineBuffer.clear();
        ApplySizeLimit(List);
        if (informationLine) {
            ImageKrz->hide();
        } else {
            ImageKrz->show();
            ImageKrz->raise();
        }
        // The tray's reaction may open a modal box, whose event loop lets connections come and
        // go: it runs from the event loop once this connection's signal has returned.
        QMetaObject::invokeMethod(
            this, [this, informationLine, text] { TrayIconUpdate(!informationLine, text); },
            Qt::QueuedConnection);
    }
    if (Socket->bytesAvailable() > kMaxLineBytes)
        ReleaseConnection(Socket, monitor_->closed);
}
