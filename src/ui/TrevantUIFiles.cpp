// The main window's files: loading audio, projects and slice templates, saving the loop,
// exporting slices, kits and MIDI, and the dialogs (TrevantUI.h).
#include "TrevantUI.h"

#include "AboutUI.h"
#include "AdvancedSlicingUI.h"
#include "AudioFile.h"
#include "CueMarkers.h"
#include "ExportKitUI.h"
#include "KitExporter.h"
#include "MidiSliceWriter.h"
#include "OnsetAnalysisService.h"
#include "PreferencesUI.h"
#include "ProjectFile.h"
#include "RestoreCueMarkersCommand.h"
#include "SamplePropertiesUI.h"
#include "SampleRendererEditor.h"
#include "SampleRendererTrevant.h"
#include "SampleRendererZoombar.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "SliceExporter.h"
#include "SliceTemplate.h"
#include "TimeStretchUI.h"
#include "TransportBar.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QUndoStack>
#include <QUrl>
#include <functional>

namespace {
// Where a file dialog starts: the remembered folder while it exists, else the user's
// music folder, else home.
QString startFolder(const QString &remembered)
{
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}

// A save dialog whose overwrite question names the file that is really written: the
// dialog adds the suffix to a bare name, and the question is asked here about the name
// the saver's own rule (finalName) makes of the answer, so that "song" never silently
// replaces "song.qlx", whichever dialog the platform shows.
QString askSavePath(QWidget *parent, const QString &title, const QString &start, const QString &filter,
                    const QString &suffix, const std::function<QString(const QString &)> &finalName)
{
    QFileDialog dialog(parent, title, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString path = dialog.selectedFiles().constFirst();
    const QString target = finalName(path);
    if (QFileInfo::exists(target) &&
        QMessageBox::question(parent, title,
                              QObject::tr("%1 already exists.\nDo you want to replace it?")
                                  .arg(QDir::toNativeSeparators(target)),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return QString();
    return path;
}

} // namespace

// --- Loading ------------------------------------------------------------------------

void TrevantUI::slotSetupSliceConnections(Slice *pSlice) {
    if (!pSlice)
        return;
    connect(pSlice, SIGNAL(playbackToggled(bool)), this, SLOT(slotUpdatePlaybackButton(bool)),
            Qt::UniqueConnection);
    connect(pSlice, SIGNAL(savingProgress(float)), this, SLOT(slotUpdateSavingProgress(float)),
            Qt::UniqueConnection);
    connect(pSlice, SIGNAL(savingComplete()), this, SLOT(slotUpdateSavingComplete()), Qt::UniqueConnection);
    connect(pSlice, SIGNAL(savingCancelled()), this, SLOT(slotUpdateSavingCancelled()), Qt::UniqueConnection);
}

void TrevantUI::slotLoadAudioFile() {
    ui.actionPlay->setChecked(false);
    // The first filter is the familiar one; the one offered first lists every format the
    // decoder reads too, so an Ogg, Opus or WMA file is not hidden from the musician.
    QString everyAudio = tr("All Audio Files (%1)").arg("*." + AudioFile::openableSuffixes().join(" *."));
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Open Audio"), startFolder(Settings::instance().value("last_load_path")),
        tr("Audio File (*.mp3 *.m4a *.wav *.aif *.aiff *.flac)") + ";;" + everyAudio + ";;" + tr("All Files (*)"), &everyAudio);
    if (file.isEmpty())
        return;
    if (!settleRenderedLoop([this, file] { slotLoadAudioFile(file); }))
        return;
    slotLoadAudioFile(file);
    Settings::instance().set("last_load_path", QFileInfo(file).absoluteDir().absolutePath());
}

bool TrevantUI::slotLoadAudioFile(QString filename) {
    bool loaded = false;
    if (!filename.isEmpty()) {
        if (!m_loadNotice.isEmpty() && statusBar()->currentMessage() == m_loadNotice)
            statusBar()->clearMessage();
        m_loadNotice.clear();
        // The tempo of the previous loop would read as the new one's.
        if (statusBar()->currentMessage().startsWith(tempoMessagePrefix()))
            statusBar()->clearMessage();
        // The detection of the previous loop is abandoned below and never reports again,
        // so its progress message would stay for good.
        if (m_onsets->isAnalysing() && statusBar()->currentMessage().startsWith(transientProgressText()))
            statusBar()->clearMessage();
        loaded = m_slicer->slotLoadLoop(filename);
        // Whatever was detected or waited for belonged to the previous loop.
        m_onsets->setSlice(m_slicer->currentSlice());
        m_transientSlicePending = false;
        m_transientRepickPending = false;
        m_sensitivityDragOpen = false;
        m_sensitivityCommitPending = false;
        if (loaded) {
            slotShowBpmDetectionProgress(0.0f);
            ui.progressBarBpm->show();
            {
                const QSignalBlocker blocker(ui.spinBoxPitch);
                ui.spinBoxPitch->setValue(0);
            }
            m_undoStack->clear();
            // Markers the file carries become its slice points, as a step the user can undo.
            const QList<int> cuePoints = CueMarkers::slicePoints(CueMarkers::read(filename));
            if (!cuePoints.isEmpty())
                m_undoStack->push(new RestoreCueMarkersCommand(m_slicer, cuePoints));
            setLoopViewsEnabled(true);
            attachLoopToViews();
            setLoopActionsEnabled(true);
            // Set outright: Qt leaves an existing title alone when the path is unchanged.
            setWindowFilePath(filename);
            setWindowTitle(QFileInfo(filename).fileName() + QStringLiteral("[*]"));
            // A new file keeps edit mode: the same steps as switching it on.
            if (ui.actionEditMode->isChecked())
                slotToggleEditMode(true);
            if (SlicePtr slice = m_slicer->currentSlice()) {
                // A file of more than two channels loads, but silent: the musician is told
                // why nothing plays and no hit is found, rather than left to guess.
                if (slice->fileChannels() > 2) {
                    m_loadNotice = tr("%1 has %2 channels: only mono and stereo files are read, so it plays as silence.")
                                       .arg(QFileInfo(filename).fileName())
                                       .arg(slice->fileChannels());
                    statusBar()->showMessage(m_loadNotice);
                }
                // A file cut off inside its audio plays as far as it goes; the musician
                // is told why it ends early. Some formats only show it once read.
                Slice *loop = slice.data();
                connect(loop, &Slice::loadingComplete, this, [this, loop, filename] {
                    const long long missing = loop->missingFrames();
                    if (missing <= 0 || loop->fileSampleRate() <= 0)
                        return;
                    m_loadNotice =
                        tr("%1 is cut off: %2 s of its audio are missing at the end; the rest was loaded.")
                            .arg(QFileInfo(filename).fileName())
                            .arg(double(missing) / loop->fileSampleRate(), 0, 'f', 2);
                    statusBar()->showMessage(m_loadNotice);
                });
                connect(slice.data(), SIGNAL(bpmChanged()), this,
                        SLOT(updateQuickControlsOriginalBpmFromSlice()), Qt::UniqueConnection);
                connect(slice.data(), SIGNAL(effectiveBpmChanged()), this,
                        SLOT(updateQuickControlsNewBpmFromSlice()), Qt::UniqueConnection);
                connect(slice.data(), SIGNAL(pitchChanged()), this, SLOT(updateQuickControlsPitchFromSlice()),
                        Qt::UniqueConnection);
            }
        } else {
            m_slicingView->setSlice(SlicePtr());
            m_zoomBar->setSlice(SlicePtr());
            m_editView->setSlice(SlicePtr());
            setLoopViewsEnabled(false);
            // Said why, as the command line says it: a missing file, a folder, a file
            // without read permission and bytes that are not audio each want another remedy.
            QString reason = AudioFile::pathProblem(filename);
            if (reason.isEmpty())
                reason = AudioFile::notAudioReason();
            QMessageBox box(QMessageBox::Critical, tr("Error"),
                            tr("%1 could not be loaded, please try another file.").arg(filename), QMessageBox::Ok,
                            this);
            box.setInformativeText(tr("%1: %2.").arg(QFileInfo(filename).fileName(), reason));
            box.exec();
            setLoopActionsEnabled(false);
            setWindowFilePath(QString());
            setWindowTitle(QCoreApplication::applicationName());
        }
        m_renderedLoop = false;
        m_renderedExportFolder.clear();
        setWindowModified(false);
    }
    if (m_timeStretchWindow)
        m_timeStretchWindow->refresh();
    // The edit view's hidden edits belonged to the previous loop.
    updateUnhideActions();
    focusLoopView();
    return loaded;
}

void TrevantUI::slotLoadRenderedLoop(QString filename) {
    if (!slotLoadAudioFile(filename))
        return;
    m_renderedLoop = true;
    setWindowModified(true);
}

void TrevantUI::focusLoopView() {
    // Whatever held the focus before (a dialog's caller, the Tempo box) must not keep the
    // keys: digits typed into the Tempo box would stretch the loop.
    QWidget *view = m_viewStack.currentWidget();
    if (view && view->isEnabled())
        view->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

bool TrevantUI::settleRenderedLoop(const std::function<void()> &then) {
    if (!isWindowModified() || !m_renderedLoop)
        return true;
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), tr("Save the stretched loop?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName("messageBoxSaveStretchedLoop");
    box.setInformativeText(tr("It exists only in a temporary file, which is deleted when another file is "
                              "opened or Quillory quits."));
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    if (answer == QMessageBox::Discard)
        return true;
    if (answer == QMessageBox::Save)
        saveLoopAs(then);
    return false;
}

void TrevantUI::attachLoopToViews() {
    const SlicePtr slice = m_slicer->currentSlice();
    m_slicingView->setSlice(SlicePtr());
    m_zoomBar->setSlice(SlicePtr());
    m_editView->setSlice(SlicePtr());
    m_slicingView->setSlice(slice);
    m_zoomBar->setSlice(slice);
    m_editView->setSlice(slice);
    m_slicingView->update();
    m_zoomBar->update();
    m_editView->update();
    m_transportBar->update();
}

void TrevantUI::setLoopViewsEnabled(bool on) {
    m_slicingView->setEnabled(on);
    m_zoomBar->setEnabled(on);
    m_transportBar->setEnabled(on);
    m_editView->setEnabled(on);
}

void TrevantUI::setLoopActionsEnabled(bool on) {
    ui.toolBar->setEnabled(on);
    for (QAction *a : {ui.actionEditMode, ui.actionSaveSlices, ui.actionSaveAs, ui.actionSaveSlicesAsMidi,
                       ui.actionOpenSliceTemplate, ui.actionSaveSliceTemplateAs, ui.actionQuickExport,
                       ui.actionAdvancedSlicing, ui.actionSliceAtTransients, ui.action4, ui.action8, ui.action16, ui.action32,
                       ui.action64, ui.actionSampleProperties, ui.actionTimeStretch})
        a->setEnabled(on);
    if (m_exportKitAction)
        m_exportKitAction->setEnabled(on);
    ui.frameQuickControls->setEnabled(on);
    if (m_slicingView)
        m_slicingView->setEnabled(on);
    if (m_zoomBar)
        m_zoomBar->setEnabled(on);
}

// --- Dialogs and the rest -----------------------------------------------------------

void TrevantUI::slotShowPreferences() {
    auto *dialog = new PreferencesUI(this, m_engine);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void TrevantUI::slotShowAdvancedSlicing() {
    auto *dialog = new AdvancedSlicingUI(this, m_slicer, m_undoStack);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &AdvancedSlicingUI::sliceAtTransientsRequested, this, &TrevantUI::slotSliceAtTransients);
    dialog->open();
}

void TrevantUI::slotShowTimeStretchWindow() {
    if (!m_timeStretchWindow) {
        m_timeStretchWindow = new TimeStretchUI(this, m_slicer);
        connect(m_timeStretchWindow, &TimeStretchUI::temporaryFileRendered, this,
                &TrevantUI::slotLoadRenderedLoop);
        m_timeStretchWindow->installEventFilter(this);
    }
    m_timeStretchWindow->refresh();
    m_timeStretchWindow->show();
}

void TrevantUI::slotShowSamplePropertiesWindow() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    auto *dialog = new SamplePropertiesUI(this, slice);
    dialog->exec();
    delete dialog;
}

void TrevantUI::slotAbout() {
    auto *dialog = new AboutUI(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void TrevantUI::slotNewProject() {
    m_engine->clearSamplerBank();
}
void TrevantUI::slotOpenProject() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open Project"), startFolder(Settings::instance().value("last_load_project_path")),
        tr("Quillory Projects (*.qlx)"));
    if (!path.isEmpty())
        openProject(path);
}

bool TrevantUI::openProject(const QString &path) {
    QString error;
    QStringList missing;
    if (!ProjectFile::load(m_engine, path, &error, &missing)) {
        QMessageBox::critical(this, tr("Error"), error);
        return false;
    }
    if (!missing.isEmpty())
        QMessageBox::warning(this, tr("Open Project"),
                             tr("These samples could not be found:\n%1").arg(missing.join("\n")));
    Settings::instance().set("last_load_project_path", QFileInfo(path).absolutePath());
    return true;
}

void TrevantUI::slotSaveProject() {
    const QString path =
        askSavePath(this, tr("Save Project"), startFolder(Settings::instance().value("last_load_project_path")),
                    tr("Quillory Projects (*.qlx)"), QStringLiteral("qlx"), &ProjectFile::withProjectSuffix);
    if (path.isEmpty())
        return;
    QString error, written;
    if (!ProjectFile::save(m_engine, path, &error, &written)) {
        QMessageBox::critical(this, tr("Error"), error);
        return;
    }
    Settings::instance().set("last_load_project_path", QFileInfo(written).absolutePath());
}

const char *const TrevantUI::kManualFileName = "Quillory Manual.pdf";

QStringList TrevantUI::manualFolders() {
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList folders{QDir::cleanPath(programDir + QStringLiteral("/" QUILLORY_DOC_DIR_FROM_BIN)),
                        QStringLiteral(QUILLORY_INSTALLED_DOC_DIR), programDir};
    folders.removeDuplicates();
    return folders;
}

void TrevantUI::slotUserManual() {
    const QStringList folders = manualFolders();
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(kManualFileName));
        if (!QFileInfo(path).isFile())
            continue;
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            QMessageBox::warning(this, tr("User Manual"),
                                 tr("No program to show PDF files opened the manual.\n\n"
                                    "It is %1; open it with a PDF viewer.")
                                     .arg(QDir::toNativeSeparators(path)));
        return;
    }
    QStringList shown;
    for (const QString &folder : folders)
        shown << QDir::toNativeSeparators(folder);
    QMessageBox::warning(this, tr("User Manual"),
                         tr("The manual \"%1\" is not installed. Quillory looked for it in:\n\n%2")
                             .arg(QString::fromLatin1(kManualFileName), shown.join(QLatin1Char('\n'))));
}

void TrevantUI::slotPlayPreview(QString filePath) {
    m_engine->setPreviewFile(filePath);
}

QString TrevantUI::savedMessage(const QString &baseFilePath, const QString &fileName) {
    const QString sep = QDir::separator();
    const QString full = baseFilePath + sep + fileName;
    const QString shown = full.size() <= 40 ? full : baseFilePath.left(32) + ".." + sep + fileName;
    return shown + " successfully saved.";
}

void TrevantUI::slotStatusBarSavedMessage(QString baseFilePath, QString fileName) {
    statusBar()->showMessage(savedMessage(baseFilePath, fileName), 2000);
}

QString TrevantUI::loopFolder() const {
    SlicePtr slice = m_slicer->currentSlice();
    return slice ? QFileInfo(slice->fileName()).absolutePath() : QString();
}

bool TrevantUI::settleCollisions(SliceExporter *exporter) {
    const QStringList existing = exporter->existingTargets();
    if (existing.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Question, tr("Save Slices"),
                    existing.size() == 1
                        ? tr("A file with this name exists already.")
                        : tr("%1 files with these names exist already.").arg(existing.size()),
                    QMessageBox::Cancel, this);
    box.setDetailedText(existing.join("\n"));
    QPushButton *replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
    QPushButton *keep = box.addButton(tr("Keep Both"), QMessageBox::AcceptRole);
    box.setDefaultButton(keep);
    box.exec();
    if (box.clickedButton() == replace)
        exporter->setCollision(SliceExporter::Collision::Overwrite);
    else if (box.clickedButton() == keep)
        exporter->setCollision(SliceExporter::Collision::KeepBoth);
    else
        return false;
    return true;
}

void TrevantUI::startExport(SliceExporter *exporter, std::function<void(SliceExporter *)> onEnd) {
    if (!exporter) {
        statusBar()->showMessage(tr("There is nothing to export."), 3000);
        return;
    }
    exporter->setParent(this);
    if (!trackExport(exporter, std::move(onEnd))) {
        delete exporter;
        return;
    }
    exporter->start();
}

bool TrevantUI::trackExport(SliceExporter *exporter, std::function<void(SliceExporter *)> onEnd) {
    if (m_exporter) {
        statusBar()->showMessage(tr("An export is already running."), 3000);
        return false;
    }
    m_exporter = exporter;
    m_exportOutcomeLabel->hide();
    connect(exporter, &SliceExporter::fileWritten, this, &TrevantUI::exportSuccessful);
    connect(exporter, &SliceExporter::finished, this, [this, exporter, onEnd] {
        m_cancelExportButton->hide();
        showExportOutcome(exporter);
        if (exporter->status() == SliceExporter::Status::Failed)
            QMessageBox::critical(this, tr("Error"), exporter->errorMessage());
        m_exporter = nullptr;
        exporter->deleteLater();
        if (onEnd)
            onEnd(exporter);
    });
    m_cancelExportButton->show();
    return true;
}

QString TrevantUI::exportOutcomeText() const {
    return m_exportOutcomeLabel->isVisibleTo(statusBar()) ? m_exportOutcomeLabel->text() : QString();
}

void TrevantUI::showExportOutcome(SliceExporter *exporter) {
    const QStringList written = exporter->writtenFiles();
    const int count = written.size();
    const QString files = count == 1 ? tr("1 file") : tr("%1 files").arg(count);
    QString text;
    if (count > 0) {
        const QString folder = QFileInfo(written.constFirst()).absolutePath();
        const QString link = QStringLiteral("<a href=\"%1\">%2</a>")
                                 .arg(QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                      QDir::toNativeSeparators(folder).toHtmlEscaped());
        switch (exporter->status()) {
        case SliceExporter::Status::Completed:
            text = tr("%1 written to %2").arg(files, link);
            break;
        case SliceExporter::Status::Cancelled:
            text = tr("Export cancelled: %1 already written are left in %2").arg(files, link);
            break;
        default:
            text = tr("Export failed: %1 written before the failure are left in %2").arg(files, link);
            break;
        }
    } else if (exporter->status() == SliceExporter::Status::Cancelled) {
        text = tr("Export cancelled: no file was written.");
    } else if (exporter->status() == SliceExporter::Status::Failed) {
        text = tr("Export failed: no file was written.");
    }
    if (text.isEmpty())
        return;
    // Temporary messages hide the label while they show; it comes back after them.
    statusBar()->clearMessage();
    m_exportOutcomeLabel->setText(text);
    m_exportOutcomeLabel->show();
}

void TrevantUI::slotSaveAs() {
    saveLoopAs({});
}

void TrevantUI::saveLoopAs(std::function<void()> then) {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    // A render lives in a temporary folder, which is no place to offer for keeping it.
    const QString folder =
        m_renderedLoop ? startFolder(Settings::instance().value("last_load_path")) : loopFolder();
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save As"), folder + "/" + slice->baseName() + ".wav",
                                     tr("WAV Audio (*.wav);;AIFF Audio (*.aif *.aiff);;FLAC Audio (*.flac)"));
    if (path.isEmpty())
        return;
    const QPointer<Slice> saved = slice.data();
    startExport(SliceExporter::forSaveAs(m_slicer, path), [this, saved, then](SliceExporter *exporter) {
        if (exporter->status() != SliceExporter::Status::Completed)
            return;
        if (m_renderedLoop && saved && saved == m_slicer->currentSlice().data()) {
            setWindowModified(false);
            if (m_renderedExportFolder.isEmpty() && !exporter->writtenFiles().isEmpty())
                m_renderedExportFolder = SliceExporter::quickExportFolder(exporter->writtenFiles().constFirst());
        }
        if (then)
            then();
    });
}

void TrevantUI::addSliceMarkersOption() {
    // Some players and editors show cue markers where the user wants a clean file, so
    // the markers can be switched off; the choice is remembered, on unless switched off.
    auto *action = new QAction(tr("Slice Markers in Saved Loops"), this);
    action->setObjectName("actionSliceMarkersInSavedLoops");
    action->setCheckable(true);
    action->setStatusTip(tr("Save As keeps the slice points and the tempo inside WAV and AIFF files"));
    action->setChecked(Settings::instance().value("slice_markers_in_saved_loops") != "0");
    const QList<QAction *> fileActions = ui.menuFile->actions();
    ui.menuFile->insertAction(fileActions.value(fileActions.indexOf(ui.actionSaveAs) + 1), action);
    connect(action, &QAction::toggled, this,
            [](bool on) { Settings::instance().set("slice_markers_in_saved_loops", on ? "1" : "0"); });
}

void TrevantUI::slotSaveSlicesAsMidi() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Slices as MIDI"),
                                                      loopFolder() + "/" + slice->baseName() + ".mid",
                                                      tr("MIDI Files (*.mid)"));
    if (path.isEmpty())
        return;
    QString error, written;
    if (!MidiSliceWriter::save(m_slicer, path, &error, &written)) {
        QMessageBox::critical(this, tr("Error"), error);
        return;
    }
    const QFileInfo info(written);
    emit exportSuccessful(QDir::toNativeSeparators(info.absolutePath()), info.fileName());
}

void TrevantUI::slotExportSlicesToDisk() {
    if (!m_slicer->currentSlice())
        return;
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Save Slices"), loopFolder());
    if (folder.isEmpty())
        return;
    SliceExporter *exporter = SliceExporter::forSlices(m_slicer, folder);
    if (exporter && !settleCollisions(exporter)) {
        delete exporter;
        return;
    }
    startExport(exporter);
}

void TrevantUI::slotExportSlicesWithPrefix(QString prefix) {
    if (!m_slicer->currentSlice() || prefix.isEmpty())
        return;
    SliceExporter *exporter = SliceExporter::forPrefix(m_slicer, prefix);
    if (exporter && !settleCollisions(exporter)) {
        delete exporter;
        return;
    }
    startExport(exporter);
}

void TrevantUI::slotExportSlicesQuick() {
    if (!m_slicer->currentSlice())
        return;
    if (!m_renderedLoop) {
        startExport(SliceExporter::forQuickExport(m_slicer));
        return;
    }
    // Next to a render would mean inside the temporary folder that goes with it.
    if (m_renderedExportFolder.isEmpty()) {
        const QString folder = QFileDialog::getExistingDirectory(
            this, tr("Quick Export: Folder for the Stretched Loop's Slices"),
            startFolder(Settings::instance().value("last_load_path")));
        if (folder.isEmpty())
            return;
        m_renderedExportFolder = folder;
    }
    SliceExporter *exporter = SliceExporter::forSlices(m_slicer, m_renderedExportFolder);
    if (exporter)
        exporter->setCollision(SliceExporter::Collision::KeepBoth);
    startExport(exporter);
}

void TrevantUI::slotExportSlicesToSampler() {}

void TrevantUI::slotExportKit() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    ExportKitUI dialog(slice->fileName(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    KitExporter::Options options = dialog.options();
    options.slicePitch = KitExporter::slicePitches(m_slicer, m_engine->samplerBank());
    KitExporter *exporter = KitExporter::forSlicer(m_slicer, options);
    if (exporter && !exporter->existingKitTargets().isEmpty()) {
        QMessageBox box(QMessageBox::Question, tr("Export Kit"),
                        tr("A kit named \"%1\" exists already in this folder.").arg(exporter->options().name),
                        QMessageBox::Cancel, this);
        box.setDetailedText(exporter->existingKitTargets().join("\n"));
        QPushButton *replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
        box.exec();
        if (box.clickedButton() != replace) {
            delete exporter;
            return;
        }
        exporter->setOverwrite(true);
    }
    startExport(exporter);
}

bool TrevantUI::loadSliceTemplate(const QString &path) {
    QString error;
    if (!SliceTemplate::loadInto(m_slicer, path, m_undoStack, &error)) {
        QMessageBox::critical(this, tr("Error"), error);
        return false;
    }
    m_slicingView->update();
    return true;
}

void TrevantUI::slotLoadSliceTemplate() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Load Slice Template..."), startFolder(Settings::instance().value("last_slicetemplate_load_path")),
        tr("Slice Templates (*.qlst)"));
    if (path.isEmpty())
        return;
    if (loadSliceTemplate(path))
        Settings::instance().set("last_slicetemplate_load_path", QFileInfo(path).absolutePath());
}

void TrevantUI::slotSaveSliceTemplate() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    const QString path = askSavePath(
        this, tr("Save Slice Template..."),
        startFolder(Settings::instance().value("last_slicetemplate_load_path")) + "/" + slice->baseName(),
        tr("Slice Templates (*.qlst)"), QStringLiteral("qlst"), &SliceTemplate::withTemplateSuffix);
    if (path.isEmpty())
        return;
    QString error, written;
    if (!SliceTemplate::saveFrom(m_slicer, path, &error, &written)) {
        QMessageBox::critical(this, tr("Error"), error);
        return;
    }
    Settings::instance().set("last_slicetemplate_load_path", QFileInfo(written).absolutePath());
}

void TrevantUI::slotUpdateSavingProgress(float fraction) {
    statusBar()->showMessage("Saving " + QString::number(double(fraction) * 100.0, 'f', 1) + "%");
}

void TrevantUI::slotUpdateSavingComplete() {
    statusBar()->showMessage("Saving Complete.", 2000);
}
void TrevantUI::slotUpdateSavingCancelled() {
    statusBar()->clearMessage();
}

QString TrevantUI::tempoMessagePrefix() {
    return QStringLiteral("Tempo Calculated: ");
}

void TrevantUI::slotUpdateBpmDetected() {
    SlicePtr slice = m_slicer->currentSlice();
    // No tempo is said in the tempo box; and whatever the bar is saying already (a notice
    // about the file, a detection's progress, how an export ended) is not cut short or
    // hidden for it: a timed message would clear the bar when it ends, and the tempo box
    // shows the tempo either way.
    if (!slice || !(slice->bpm() > 0.0) || !statusBar()->currentMessage().isEmpty() ||
        m_exportOutcomeLabel->isVisibleTo(statusBar()))
        return;
    statusBar()->showMessage(tempoMessagePrefix() + QString("%1 BPM").arg(slice->bpm(), 0, 'g'), 3000);
}
