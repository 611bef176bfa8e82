// Saving the reading table to a file and loading saved files back: the
// handlers of the save and open speed buttons.
#include "app/TFCOMM.h"
#include "recording/DataFiles.h"
#include "recording/ReadingTableModel.h"

#include <QFileDialog>
#include <QMessageBox>

namespace voltaro {

void TFCOMM::saveasClick() {
    if (!SaveDialog2)
        SaveDialog2 = fileDialog(QStringLiteral("SaveDialog2"), QString(), true,
                                 {QStringLiteral("Excel File(*.xls)"), QStringLiteral("XML(*.xml)"),
                                  QStringLiteral("Txt File(*.txt)")},
                                 QStringLiteral("xls"));
    // Each save starts with an empty name, never the previous one.
    SaveDialog2->selectFile(QString());
    if (SaveDialog2->exec() != QDialog::Accepted || SaveDialog2->selectedFiles().isEmpty())
        return;
    const QString name = SaveDialog2->selectedFiles().constFirst();
    if (datafiles::isXmlFileName(name)) {
        const auto result = datafiles::saveXml(cds1, name);
        if (!result.ok)
            QMessageBox::critical(this, QString(),
                                  QStringLiteral("Could not save table to specified file: ") + name +
                                      QStringLiteral(" (") + result.error + QLatin1Char(')'));
        return;
    }
    SaveTableAsText(name);
}

void TFCOMM::SaveTableAsText(const QString& name) {
    const auto result = datafiles::saveText(cds1, name);
    if (!result.ok) {
        QMessageBox box(QMessageBox::NoIcon, QString(),
                        QStringLiteral("Could not save table to specified file: ") + name, QMessageBox::Ok,
                        this);
        box.exec();
        return;
    }
    if (cds1.rowCount() > 0)
        showNewestRow(static_cast<int>(cds1.rowCount() - 1));
    QMessageBox::information(
        this, QString(), QStringLiteral("save table to specified file: ") + name + QStringLiteral(" Scuss!"));
}

void TFCOMM::SpeedButton2Click() {
    if (!OpenDialog1)
        OpenDialog1 = fileDialog(QStringLiteral("OpenDialog1"), QString(), false,
                                 {QStringLiteral("Exel File(*.xls)"), QStringLiteral("XML (*.xml)"),
                                  QStringLiteral("Txt File(*.txt)")});
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty())
        return;
    LoadTableFile(OpenDialog1->selectedFiles().constFirst(), false);
}

void TFCOMM::LoadTableFile(const QString& name, bool emptyFirst) {
    // Loading leaves the recording counters alone: new readings continue
    // with the next record number after the loaded rows.
    const auto result = datafiles::loadTableFile(name, cds1, emptyFirst);
    if (result.replaced || emptyFirst) {
        Data1->tableReset();
    } else if (result.rowsAdded > 0) {
        Data1->rowsAppended();
        Data1->flush();
    }
    if (!result.ok) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"),
                        QStringLiteral("Failed to Load File!"), QMessageBox::Ok, this);
        box.exec();
    }
}

} // namespace voltaro
