#include "widgets/recording/ReportView.h"

#include "core/recording/ReadingTable.h"
#include "widgets/recording/ReportPainter.h"

#include <QMessageBox>
#include <QPageLayout>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QTimer>

namespace voltaro {

namespace {

// The preview keeps every page it shows in memory (about 75 KB a page), so
// a report longer than this is only prepared when the user says so.
constexpr int kPagesToAskAbout = 2000;
// Reports longer than this show their progress while being prepared (a
// few tenths of a second and more), and can be cancelled.
constexpr int kPagesToShowProgress = 200;

} // namespace

void report::preview(QWidget* parent, const ReadingTable& cds1) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
    const int pages =
        report::pageCount(cds1.rowCount(), printer.pageLayout().paintRect(QPageLayout::Millimeter).height());
    if (pages > kPagesToAskAbout) {
        const auto answer = QMessageBox::question(
            parent, QStringLiteral("Print"),
            QStringLiteral("The report runs to %1 pages. Preparing its preview takes a while and much "
                           "memory. Prepare it anyway?")
                .arg(pages),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    // An empty table still opens the preview, which then shows no pages: the
    // user sees that there is nothing to print rather than a click that does nothing.
    QPrintPreviewDialog preview(&printer, parent);
    preview.setWindowTitle(QStringLiteral("Print Preview"));
    // Every repaint (page setup, printing) walks the table as it is then, so
    // rows recorded while the preview is open appear after a refresh.
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [&cds1, &preview](QPrinter* p) {
                         if (report::pageCount(cds1.rowCount(),
                                               p->pageLayout().paintRect(QPageLayout::Millimeter).height()) <=
                             kPagesToShowProgress) {
                             report::paint(cds1, *p);
                             return;
                         }
                         // Readings keep arriving and being recorded while the bar runs; the
                         // report takes the rows there were when it started.
                         QProgressDialog progress(QStringLiteral("Preparing the report..."),
                                                  QStringLiteral("Cancel"), 0, 1, &preview);
                         progress.setWindowModality(Qt::WindowModal);
                         progress.setMinimumDuration(0);
                         // Cancelling stops the report at the page painted last. For the
                         // preview the preview is closed; a print run then holds the pages
                         // painted so far (the PDF and printer engines cannot abort a run).
                         const bool done = report::paint(cds1, *p, [&progress](int pagesDone, int total) {
                             progress.setMaximum(total);
                             progress.setValue(pagesDone);
                             return !progress.wasCanceled();
                         });
                         if (!done && progress.wasCanceled())
                             QTimer::singleShot(0, &preview, &QDialog::reject);
                     });
    preview.exec();
}

} // namespace voltaro
