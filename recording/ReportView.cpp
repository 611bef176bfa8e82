// The report's print preview on the main window.
#include "app/TFCOMM.h"
#include "recording/ReportPainter.h"

#include <QPageLayout>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace voltaro {

void TFCOMM::BtPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
    // An empty table still opens the preview, which then shows no pages: the
    // user sees that there is nothing to print rather than a click that does nothing.
    QPrintPreviewDialog preview(&printer, this);
    preview.setWindowTitle(QStringLiteral("Print Preview"));
    // Every repaint (zoom, page setup, printing) walks the table as it is
    // then, so rows recorded while the preview is open appear after a refresh.
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* p) { report::paint(cds1, *p); });
    preview.exec();
}

} // namespace voltaro
