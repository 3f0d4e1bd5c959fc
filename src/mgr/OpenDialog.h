#pragma once
// The file-open dialog of the main window (DlgOpen), also lent to the additional pages dialog.
// Title, default extension and filter are kept in the Windows form ("Text|*.txt|..."); Execute
// shows a Qt file dialog preset to FileName and, on OK, leaves the chosen full path there.
// Tests answer it through the seam: with the seam installed nothing is shown and Execute takes
// the next queued answer (a file name, or cancel when none is queued). GUI thread only.

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

class TOpenDialog {
public:
    QString Title;
    QString DefaultExt;
    QString Filter;
    QString FileName;

    // True when the user chose a file; FileName then holds it with its full path.
    bool Execute(QWidget* parent);

    // The Windows filter text as Qt name filters.
    static QStringList QtFilters(const QString& windowsFilter);

    // Test seam.
    static void InstallTestSeam();
    static void SetNextResult(std::optional<QString> fileName);
    // The FileName preset of every Execute since the seam was installed.
    static QStringList& Presets();
};
