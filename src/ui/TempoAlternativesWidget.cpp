#include "TempoAlternativesWidget.h"

#include "SetLoopTempoCommand.h"
#include "TempoAnalysis.h"
#include "Trevant.h"

#include <QAction>
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kMostShown = 4;

// Two tempi the box would show alike are the same choice.
bool sameTempo(double a, double b) {
    return std::fabs(a - b) < 0.005;
}

QString bpmText(double bpm) {
    return QString::number(bpm, 'f', 2);
}
} // namespace

TempoAlternativesWidget::TempoAlternativesWidget(QWidget *parent, Trevant *slicer, QUndoStack *undoStack)
    : QWidget(parent), m_pSlicer(slicer), m_pUndoStack(undoStack), m_pButton(new QToolButton(this)),
      m_pMenu(new QMenu(this)), m_pTapButton(new QPushButton(tr("Tap"), this)) {
    setObjectName("tempoAlternativesWidget");
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    m_pButton->setObjectName("toolButtonTempoAlternatives");
    m_pButton->setPopupMode(QToolButton::InstantPopup);
    m_pButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_pButton->setIconSize(QSize(28, 8));
    m_pButton->setMenu(m_pMenu);
    m_pMenu->setObjectName("menuTempoAlternatives");
    m_pMenu->setToolTipsVisible(true);
    layout->addWidget(m_pButton);

    m_pTapButton->setObjectName("pushButtonTapTempo");
    m_pTapButton->setToolTip(tr("Tap the beat: four taps that agree set the tempo (T in the waveform)"));
    m_pTapButton->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_pTapButton);

    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    m_clock = [timer] { return static_cast<long long>(timer->elapsed()); };

    connect(m_pTapButton, &QPushButton::clicked, this, &TempoAlternativesWidget::slotTap);
    connect(m_pSlicer, &Trevant::sliceLoaded, this, &TempoAlternativesWidget::slotLoopLoaded);
    slotLoopLoaded();
}

void TempoAlternativesWidget::setClock(std::function<long long()> clock) {
    m_clock = std::move(clock);
    m_tapTempo.reset();
}

void TempoAlternativesWidget::tapOnKeyIn(QWidget *view) {
    if (view)
        view->installEventFilter(this);
}

bool TempoAlternativesWidget::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // A held key repeats; only the press itself is a tap.
        if (key->key() == Qt::Key_T && key->modifiers() == Qt::NoModifier && !key->isAutoRepeat()) {
            slotTap();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TempoAlternativesWidget::slotLoopLoaded() {
    if (const SlicePtr loop = m_pSlicer->currentSlice()) {
        connect(loop.data(), &Slice::bpmChanged, this, &TempoAlternativesWidget::slotRefresh,
                Qt::UniqueConnection);
        connect(loop.data(), &Slice::tempoAnalysisChanged, this, &TempoAlternativesWidget::slotRefresh,
                Qt::UniqueConnection);
    }
    m_tapTempo.reset();
    slotRefresh();
}

QPixmap TempoAlternativesWidget::confidenceBar(double fraction, const QSize &size) {
    fraction = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(128, 128, 128));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
    // Red when unsure, through amber, to green when sure.
    const QColor colour = QColor::fromHsvF(fraction / 3.0, 0.85, 0.9);
    const int filled = int(std::lround(fraction * (size.width() - 2)));
    painter.fillRect(1, 1, filled, size.height() - 2, colour);
    return pixmap;
}

void TempoAlternativesWidget::slotRefresh() {
    m_pMenu->clear();
    const SlicePtr loop = m_pSlicer->currentSlice();
    const TempoAnalysis analysis = loop ? loop->tempoAnalysis() : TempoAnalysis();
    const double current = loop ? loop->bpm() : 0.0;
    if (analysis.isEmpty() || !(current > 0.0)) {
        m_pButton->setIcon(QIcon());
        m_pButton->setText(QStringLiteral("▾"));
        m_pButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
        m_pButton->setEnabled(false);
        m_pButton->setToolTip(tr("Tempo alternatives appear once the tempo is detected"));
        return;
    }

    // The detected tempo is offered back once another has been chosen.
    struct Choice {
        double bpm;
        double score;
        int bars;
        int beatsPerBar;
        bool detected;
    };
    std::vector<Choice> choices;
    choices.push_back({analysis.detectedBpm, analysis.score, analysis.bars, analysis.beatsPerBar, true});
    for (const TempoAlternative &a : analysis.alternatives)
        choices.push_back({a.bpm, a.score, a.bars, a.beatsPerBar, false});
    std::stable_sort(choices.begin(), choices.end(),
                     [](const Choice &a, const Choice &b) { return a.score > b.score; });
    double best = 0.0;
    for (const Choice &c : choices)
        best = std::max(best, c.score);

    int shown = 0;
    for (const Choice &c : choices) {
        if (sameTempo(c.bpm, current) || shown == kMostShown)
            continue;
        ++shown;
        QString text = QStringLiteral("%1\t%2 BPM").arg(TempoText::relation(c.bpm / current), bpmText(c.bpm));
        if (c.detected)
            text += tr(" (detected)");
        QAction *action =
            m_pMenu->addAction(confidenceBar(best > 0.0 ? c.score / best : 0.0, QSize(40, 8)), text);
        action->setData(c.bpm);
        action->setToolTip(TempoText::fit(c.bars, c.beatsPerBar, c.bpm));
        const double bpm = c.bpm;
        connect(action, &QAction::triggered, this, [this, bpm] { chooseTempo(bpm, -1); });
    }

    m_pButton->setEnabled(shown > 0);
    m_pButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_pButton->setIcon(confidenceBar(analysis.confidence, m_pButton->iconSize()));
    QString tip = tr("Detected %1 BPM, confidence %2")
                      .arg(bpmText(analysis.detectedBpm))
                      .arg(analysis.confidence, 0, 'f', 2);
    const QString fit = TempoText::fit(analysis.bars, analysis.beatsPerBar, analysis.detectedBpm);
    if (!fit.isEmpty())
        tip += QStringLiteral(" (%1)").arg(fit);
    m_pButton->setToolTip(tip);
}

void TempoAlternativesWidget::slotTap() {
    const long long now = m_clock();
    const double tempo = m_tapTempo.tap(now);
    if (m_tapTempo.agreeingTaps() == 1)
        ++m_iTapSession;
    if (tempo > 0.0)
        chooseTempo(std::round(tempo * 100.0) / 100.0, m_iTapSession);
}

void TempoAlternativesWidget::chooseTempo(double bpm, int mergeSession) {
    const SlicePtr loop = m_pSlicer->currentSlice();
    if (!loop || !(bpm > 0.0) || !std::isfinite(bpm))
        return;
    const double before = loop->bpm();
    // The tempo box cannot show less than 30 or more than 300 BPM.
    bpm = std::clamp(bpm, 30.0, 300.0);
    if (sameTempo(before, bpm))
        return;
    m_pUndoStack->push(new SetLoopTempoCommand(loop, before, bpm, mergeSession));
}
