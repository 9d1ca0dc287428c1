#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QTextBrowser>

// Form "About": fixed widget positions over a background picture.
class Ui_About {
public:
    QLabel *label;
    QLabel *labelVersion;
    QTextBrowser *textBrowser;
    QLabel *label_3;
    QLabel *labelWeb;
    QDialogButtonBox *buttonBox;

    void setupUi(QDialog *About);
    void retranslateUi(QDialog *About);
};

// The about box: version, credits with the licences of the libraries the
// program links, and the embedded notices file.
class AboutUI : public QDialog {
    Q_OBJECT
public:
    explicit AboutUI(QWidget *parent = nullptr);

    // The rich text shown first (credits); the notices file replaces it on request.
    static QString aboutText();
    // The third-party notices compiled into the program.
    static QString licenceNotices();

private slots:
    void slotAnchorClicked(const QUrl &url);

private:
    Ui_About ui;
};
