#include "AboutUI.h"

#include <QCoreApplication>
#include <QDate>
#include <QDesktopServices>
#include <QFile>
#include <QPixmap>
#include <QTextDocument>
#include <QUrl>

namespace {
const char *const kNoticesAnchor = "notices";
const char *const kCreditsAnchor = "credits";
const char *const kNoticesFileName = "THIRD-PARTY-NOTICES.txt";
} // namespace

void Ui_About::setupUi(QDialog *About)
{
    if (About->objectName().isEmpty())
        About->setObjectName(QStringLiteral("About"));
    About->resize(320, 338);

    label = new QLabel(About);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(QRect(0, 0, 321, 338));
    label->setScaledContents(true);

    labelVersion = new QLabel(About);
    labelVersion->setObjectName(QStringLiteral("labelVersion"));
    labelVersion->setGeometry(QRect(0, 84, 320, 20));
    labelVersion->setAlignment(Qt::AlignCenter);
    labelVersion->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);\n"));

    textBrowser = new QTextBrowser(About);
    textBrowser->setObjectName(QStringLiteral("textBrowser"));
    textBrowser->setGeometry(QRect(10, 120, 301, 155));
    textBrowser->setOpenLinks(false);

    label_3 = new QLabel(About);
    label_3->setObjectName(QStringLiteral("label_3"));
    label_3->setGeometry(QRect(20, 280, 281, 16));
    label_3->setAlignment(Qt::AlignCenter);

    labelWeb = new QLabel(About);
    labelWeb->setObjectName(QStringLiteral("labelWeb"));
    labelWeb->setGeometry(QRect(10, 300, 211, 32));
    labelWeb->setAlignment(Qt::AlignCenter);
    labelWeb->setOpenExternalLinks(true);
    labelWeb->setTextInteractionFlags(Qt::TextBrowserInteraction);

    buttonBox = new QDialogButtonBox(About);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setGeometry(QRect(230, 300, 77, 32));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Close);

    retranslateUi(About);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, About, &QDialog::reject);
    QMetaObject::connectSlotsByName(About);
}

void Ui_About::retranslateUi(QDialog *About)
{
    About->setWindowTitle(QCoreApplication::translate("About", "About"));
    labelVersion->setText(QCoreApplication::translate("About", "Version"));
    label_3->setText(QCoreApplication::translate("About", "Copyright \u00a9 2015 Brindlemoor"));
    labelWeb->setText(QCoreApplication::translate(
        "About", "<a href=\"https://quillory.brindlemoor.com/\">quillory.brindlemoor.com</a>"));
}

AboutUI::AboutUI(QWidget *parent) : QDialog(parent)
{
    ui.setupUi(this);
    setFixedSize(320, 338);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    const bool hiDpi = devicePixelRatioF() > 1.0;
    QPixmap background(hiDpi ? QStringLiteral(":/aboutbg@2x.png") : QStringLiteral(":/aboutbg.png"));
    if (hiDpi)
        background.setDevicePixelRatio(2.0);
    ui.label->setPixmap(background);

    ui.labelVersion->setText(tr("Version %1").arg(QCoreApplication::applicationVersion()));
    ui.label_3->setText(ui.label_3->text().replace(QStringLiteral("2015"), QString::number(QDate::currentDate().year())));

    ui.textBrowser->setHtml(aboutText());
    connect(ui.textBrowser, &QTextBrowser::anchorClicked, this, &AboutUI::slotAnchorClicked);
}

QString AboutUI::aboutText()
{
    return tr("<p><b>Quillory</b> cuts drum breaks and loops into slices, plays them from the "
              "keyboard and MIDI, and stretches them to any tempo and pitch.</p>"
              "<p>Time stretching and pitch shifting by the <b>Rubber Band Library</b> "
              "(GNU GPL v2 or later), Particular Programs Ltd. Tempo detection by Quillory's "
              "own onset-based tempo estimator.</p>"
              "<p>Quillory uses these libraries, linked dynamically:</p>"
              "<ul>"
              "<li>Qt 5 &mdash; GNU LGPL v3</li>"
              "<li>PortAudio &mdash; MIT licence</li>"
              "<li>PortMidi &mdash; MIT licence</li>"
              "<li>libsndfile &mdash; GNU LGPL v2.1 or later</li>"
              "<li>FFmpeg (libavformat, libavcodec, libswresample, libavutil) &mdash; GNU LGPL v2.1 "
              "or later / GNU GPL v2 or later</li>"
              "<li>SpeexDSP &mdash; BSD licence</li>"
              "<li>libFLAC and libFLAC++ &mdash; BSD licence</li>"
              "<li>Rubber Band Library &mdash; GNU GPL v2 or later</li>"
              "</ul>"
              "<p>Their copyright notices and licence terms are in the file %1 in the "
              "installation folder. <a href=\"#%2\">Show the notices</a></p>")
        .arg(QString::fromLatin1(kNoticesFileName), QString::fromLatin1(kNoticesAnchor));
}

QString AboutUI::licenceNotices()
{
    QFile f(QStringLiteral(":/THIRD_PARTY_LICENSES.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

void AboutUI::slotAnchorClicked(const QUrl &url)
{
    if (url.fragment() == QLatin1String(kNoticesAnchor)) {
        ui.textBrowser->setHtml(tr("<p><a href=\"#%1\">Back</a></p><pre style=\"font-size: small\">%2</pre>")
                                    .arg(QString::fromLatin1(kCreditsAnchor), licenceNotices().toHtmlEscaped()));
    } else if (url.fragment() == QLatin1String(kCreditsAnchor)) {
        ui.textBrowser->setHtml(aboutText());
    } else if (url.scheme().startsWith(QLatin1String("http"))) {
        QDesktopServices::openUrl(url);
    }
}
