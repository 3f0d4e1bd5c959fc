#include "mgr/OpenDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <deque>

namespace {

struct Seam {
    bool installed = false;
    std::deque<std::optional<QString>> results;
    QStringList presets;
};

Seam& TheSeam() {
    static Seam seam;
    return seam;
}

// "*.htm; *.html" → "*.htm *.html"; "*.*" means any file, which on this system may have no dot.
QString QtPatterns(const QString& windowsPatterns) {
    QStringList patterns;
    for (const QString& part : windowsPatterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (!pattern.isEmpty())
            patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    return patterns.join(QLatin1Char(' '));
}

// The description without a pattern list of its own in parentheses at the end.
QString BareDescription(const QString& description) {
    QString text = description.trimmed();
    if (text.endsWith(QLatin1Char(')'))) {
        const qsizetype open = text.lastIndexOf(QLatin1Char('('));
        if (open > 0)
            text = text.left(open).trimmed();
    }
    return text;
}

} // namespace

QStringList TOpenDialog::QtFilters(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << BareDescription(parts[i]) + QStringLiteral(" (") + QtPatterns(parts[i + 1]) +
                       QLatin1Char(')');
    return filters;
}

bool TOpenDialog::Execute(QWidget* parent) {
    Seam& seam = TheSeam();
    if (seam.installed) {
        seam.presets << FileName;
        if (seam.results.empty())
            return false;
        const std::optional<QString> result = seam.results.front();
        seam.results.pop_front();
        if (!result)
            return false;
        FileName = QFileInfo(*result).absoluteFilePath();
        return true;
    }
    QFileDialog dialog(parent, Title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile); // a result file may be a new name
    dialog.setNameFilters(QtFilters(Filter));
    QString suffix = DefaultExt;
    suffix.remove(QLatin1Char('*')).remove(QLatin1Char('.'));
    dialog.setDefaultSuffix(suffix);
    if (!FileName.isEmpty()) {
        const QFileInfo preset(FileName);
        if (preset.dir().exists())
            dialog.setDirectory(preset.absolutePath());
        dialog.selectFile(preset.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    return true;
}

void TOpenDialog::InstallTestSeam() {
    TheSeam().installed = true;
}
void TOpenDialog::SetNextResult(std::optional<QString> fileName) {
    TheSeam().results.push_back(std::move(fileName));
}
QStringList& TOpenDialog::Presets() {
    return TheSeam().presets;
}
