// Lays out the user manual (one HTML file in Qt's rich-text subset) on A4 pages and writes
// it as a PDF, with a table of contents that gives each chapter's page.
//   quillory-manual SOURCE.html IMAGE_DIR OUTPUT.pdf VERSION
// Screenshots that are not in IMAGE_DIR are left out with a line of text in their place,
// so the manual builds without them.
#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QTextTableFormat>
#include <QUrl>

#include <cstdio>

namespace {
const char *const kContentsMarker = "@CONTENTS@";

struct Chapter {
    QString title;
    int page = 0;
};

QString withScreenshotsResolved(QString html, const QDir &images) {
    static const QRegularExpression img(QStringLiteral("<img\\s[^>]*src=\"([^\"]+)\"[^>]*>"));
    QString out;
    int last = 0;
    auto it = img.globalMatch(html);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += html.mid(last, m.capturedStart() - last);
        const QString file = images.filePath(m.captured(1));
        if (QFileInfo::exists(file)) {
            QString tag = m.captured(0);
            tag.replace(m.captured(1), QUrl::fromLocalFile(file).toString());
            out += tag;
        } else {
            out += QStringLiteral("<i>(The screenshot %1 was not available when this manual was built.)</i>")
                       .arg(m.captured(1).toHtmlEscaped());
        }
        last = m.capturedEnd();
    }
    out += html.mid(last);
    return out;
}

// The chapters after the contents (which do not list themselves).
QList<Chapter> chapters(QTextDocument &doc) {
    QList<Chapter> found;
    const qreal pageHeight = doc.pageSize().height();
    const QTextCursor marker = doc.find(QString::fromLatin1(kContentsMarker));
    const int after = marker.isNull() ? -1 : marker.position();
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b.blockFormat().headingLevel() != 1 || b.position() < after)
            continue;
        const QRectF r = doc.documentLayout()->blockBoundingRect(b);
        found.append({b.text(), int(r.top() / pageHeight) + 1});
    }
    return found;
}

// The contents take the marker's place; the marker's page ends with a page break, so as
// long as the contents fit on that page no chapter moves.
bool fillContents(QTextDocument &doc, const QList<Chapter> &list) {
    QTextCursor marker = doc.find(QString::fromLatin1(kContentsMarker));
    if (marker.isNull())
        return false;
    marker.removeSelectedText();
    QTextTableFormat format;
    format.setBorder(0);
    format.setCellPadding(3);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    QTextTable *table = marker.insertTable(list.size(), 2, format);
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    for (int i = 0; i < list.size(); ++i) {
        QTextCursor c = table->cellAt(i, 0).firstCursorPosition();
        c.insertText(list[i].title);
        c = table->cellAt(i, 1).firstCursorPosition();
        c.setBlockFormat(right);
        c.insertText(QString::number(list[i].page));
    }
    return true;
}
} // namespace

int main(int argc, char **argv) {
    // No display is needed (nor wanted) to lay out text during a build.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: quillory-manual SOURCE.html IMAGE_DIR OUTPUT.pdf VERSION\n");
        return 2;
    }
    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    QString html = QString::fromUtf8(source.readAll());
    html.replace(QStringLiteral("@VERSION@"), args[4].toHtmlEscaped());

    QSaveFile out(args[3]);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[3]));
        return 1;
    }
    QPdfWriter pdf(&out);
    pdf.setTitle(QStringLiteral("Quillory Manual"));
    pdf.setCreator(QStringLiteral("Quillory %1").arg(args[4]));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 16, 18, 16),
                                  QPageLayout::Millimeter));
    pdf.setResolution(300);

    html = withScreenshotsResolved(html, QDir(args[2]));
    QTextDocument doc;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    doc.setDefaultFont(font);
    doc.setHtml(html);
    // Laid out in the PDF's own units; each page keeps a strip at the bottom for its number.
    const QRectF body = pdf.pageLayout().paintRectPixels(pdf.resolution());
    doc.documentLayout()->setPaintDevice(&pdf);
    QFont footerFont = font;
    footerFont.setPointSizeF(8);
    const qreal footerHeight = 2 * QFontMetricsF(footerFont, &pdf).height();
    const QSizeF page(body.width(), body.height() - footerHeight);
    doc.setPageSize(page);
    const QList<Chapter> list = chapters(doc);
    if (list.isEmpty()) {
        std::fprintf(stderr, "%s has no chapters (<h1>)\n", qPrintable(args[1]));
        return 1;
    }
    if (!fillContents(doc, list))
        std::fprintf(stderr, "no %s marker: the manual has no table of contents\n", kContentsMarker);
    // Filling in the page numbers lays out again only the text near the change, and the
    // rest of the document stayed unlaid (its last pages came out blank): all of it is
    // laid out again before the pages are drawn.
    doc.markContentsDirty(0, doc.characterCount());

    // Pages by hand, to put the page number under each one but the title page.
    QPainter painter(&pdf);
    const int pages = doc.pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            pdf.newPage();
        painter.save();
        painter.translate(0, -i * page.height());
        doc.drawContents(&painter, QRectF(0, i * page.height(), page.width(), page.height()));
        painter.restore();
        if (i > 0) {
            painter.setFont(footerFont);
            painter.setPen(Qt::darkGray);
            painter.drawText(QRectF(0, page.height(), page.width(), footerHeight), Qt::AlignRight | Qt::AlignBottom,
                             QStringLiteral("Quillory Manual \u2014 %1").arg(i + 1));
        }
    }
    if (!painter.end() || !out.commit()) {
        std::fprintf(stderr, "writing %s failed\n", qPrintable(args[3]));
        return 1;
    }
    std::printf("%s: %d pages, %d chapters\n", qPrintable(args[3]), pages, int(list.size()));
    return 0;
}
