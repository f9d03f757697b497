#include "views/wave_strip.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "core/intonation.h"
#include "views/panel_support.h"
#include "views/pictures.h"

namespace orvex {

namespace {

// The original's pitch and the take's, over the wave.
const QColor kOriginalPitch(30, 90, 200);
const QColor kTakePitch(230, 110, 0);


constexpr int kTextMargin = 3;
constexpr double kPlayheadStepPx = 2;

int Device(double logical, qreal ratio) {
  return static_cast<int>(std::lround(logical * ratio));
}

}  // namespace

WaveStrip::WaveStrip(QWidget* parent)
    : QWidget(parent),
      separator_(new EtchedLine(Qt::Horizontal, QStringLiteral("1016"), this)),
      font_(QStringLiteral("Tahoma")),
      backgroundBrush_(palette().brush(QPalette::Button)),
      waveBrush_(QColor(70, 70, 70)),
      centreBrush_(QColor(150, 150, 150)),
      loopBrush_(QColor(255, 226, 150)),
      pendingBrush_(QColor(190, 215, 255)),
      playheadBrush_(QColor(200, 0, 0)),
      boxBrush_(QColor(235, 235, 235)),
      currentBoxBrush_(QColor(255, 255, 205)),
      boxEdgeBrush_(QColor(120, 120, 120)),
      textPen_(Qt::black) {
  setObjectName(QStringLiteral("WaveStrip"));
  font_.setPixelSize(11);
  font_.setWeight(QFont::Normal);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

wave::Window WaveStrip::window() const {
  const int32_t length = view_.loaded ? view_.lengthMs : 0;
  wave::Window w;
  w.width = std::max(1, width());
  w.spanMs = length > 0 ? std::min(spanMs_, length) : spanMs_;
  w.startMs = startMs_;
  return w;
}

void WaveStrip::setView(const TransportView& view) {
  const bool newFile = view.track != view_.track || view.loaded != view_.loaded;
  const QRect oldPlayhead = PlayheadRect();
  view_ = view;
  if (newFile) startMs_ = 0;
  // The stretch follows the playhead, but stands still under a drag.
  if (drag_ == Drag::kNone && view_.loaded) {
    startMs_ = wave::FollowStart(startMs_, view_.positionMs, window().spanMs, view_.lengthMs);
  }
  if (ShownNow() != shown_) {
    playheadMs_ = view_.positionMs;
    composed_ = false;
    update();
    return;
  }
  // While playing, the line moves on in steps of two pixels or more: half
  // the redraws at the usual zoom, and as smooth to the eye.
  const wave::Window w = window();
  if (view_.playState == Playing &&
      std::abs(w.XOf(view_.positionMs) - w.XOf(playheadMs_)) < kPlayheadStepPx) {
    return;
  }
  // Only the playhead moved: the columns it left and the ones it reached.
  playheadMs_ = view_.positionMs;
  const QRect newPlayhead = PlayheadRect();
  if (newPlayhead != oldPlayhead) {
    update(oldPlayhead);
    update(newPlayhead);
  }
}

QRect WaveStrip::PlayheadRect() const {
  if (!view_.loaded) return {};
  const int x = static_cast<int>(std::floor(window().XOf(playheadMs_)));
  if (x < 0 || x >= width()) return {};
  // A pixel either side: at a fractional ratio the line may straddle two.
  return QRect(x - 1, kWaveTop, 3, kLaneBottom - kWaveTop);
}

void WaveStrip::zoomBy(int steps) {
  // Without a file there is nothing to zoom: the span stays for the next one.
  if (!view_.loaded) return;
  const int32_t length = view_.lengthMs;
  const int32_t span = wave::ZoomedSpan(spanMs_, steps, length);
  if (span == spanMs_) return;
  spanMs_ = span;
  startMs_ = wave::CentredStart(view_.positionMs, window().spanMs, length);
  Refresh();
}

WaveStrip::Shown WaveStrip::ShownNow() const {
  Shown s;
  s.loaded = view_.loaded;
  if (!view_.loaded) return s;
  s.track = view_.track;
  const wave::Window w = window();
  s.startMs = w.startMs;
  s.spanMs = w.spanMs;
  s.peaks = view_.peaks.get();
  s.sentences = view_.sentences.get();
  s.intonation = view_.intonation.get();
  if (view_.Active()) {
    s.a = view_.pointA;
    s.b = view_.pointB;
  }
  s.sentence = view_.sentence;
  s.pendingA = pendingA_;
  s.pendingB = pendingB_;
  return s;
}

void WaveStrip::Refresh() {
  composed_ = false;
  update();
}

void WaveStrip::resizeEvent(QResizeEvent*) {
  separator_->setGeometry(0, 0, width() + 1, 2);
  surface_ = QPixmap();
  Refresh();
}

void WaveStrip::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) {
    backgroundBrush_ = palette().brush(QPalette::Button);
    Refresh();
  }
  QWidget::changeEvent(event);
}

void WaveStrip::paintEvent(QPaintEvent*) {
  const qreal ratio = devicePixelRatioF();
  if (surface_.isNull() || surface_.devicePixelRatio() != ratio) {
    surface_ = MakeSurface(size(), ratio);
    composed_ = false;
  }
  if (!composed_) Compose();
  QPainter painter(this);
  painter.setClipRect(QRect(0, 2, width(), height() - 2));
  painter.drawPixmap(0, 0, surface_);
  if (!view_.loaded) return;
  // The playhead, whole device pixels wide, over the wave and the lane.
  const double x = window().XOf(playheadMs_);
  if (x < 0 || x >= width()) return;
  painter.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
  const int left = static_cast<int>(std::floor(x * ratio));
  const int top = Device(kWaveTop, ratio);
  painter.fillRect(
      QRect(left, top, std::max(1, Device(1, ratio)), Device(kLaneBottom, ratio) - top),
      playheadBrush_);
}

void WaveStrip::Compose() {
  shown_ = ShownNow();
  composed_ = true;
  if (surface_.isNull()) return;
  QPainter painter(&surface_);
  painter.fillRect(QRect(0, 0, width(), height()), backgroundBrush_);
  if (!view_.loaded) return;
  const qreal ratio = surface_.devicePixelRatio();
  // The wave in device pixels, one column each, so it is as fine as the screen.
  painter.save();
  painter.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
  DrawWave(painter, ratio);
  painter.restore();
  DrawIntonation(painter);
  DrawLane(painter);
}

void WaveStrip::DrawWave(QPainter& painter, qreal ratio) {
  const wave::Window w = window();
  const int columns = Device(width(), ratio);
  const int top = Device(kWaveTop, ratio);
  const int bottom = Device(kWaveBottom, ratio);
  const int half = (bottom - top) / 2;
  const int centre = top + half;
  auto shade = [&](int32_t fromMs, int32_t toMs, const QBrush& brush) {
    if (fromMs < 0 || toMs <= fromMs) return;
    const int left = std::max(0, static_cast<int>(std::floor(w.XOf(fromMs) * ratio)));
    const int right = std::min(columns, static_cast<int>(std::floor(w.XOf(toMs) * ratio)));
    if (right > left) painter.fillRect(QRect(left, top, right - left, bottom - top), brush);
  };
  shade(shown_.a, shown_.b, loopBrush_);
  shade(pendingA_, pendingB_, pendingBrush_);
  painter.fillRect(QRect(0, centre, columns, 1), centreBrush_);
  if (!view_.peaks) return;
  const PeakList& peaks = *view_.peaks;
  for (int c = 0; c < columns; ++c) {
    const wave::Column column = wave::ColumnPeaks(peaks, w, c, columns);
    if (!column.known) continue;
    const int high = centre - (column.high * half + kPeakFullScale / 2) / kPeakFullScale;
    const int low = centre - (column.low * half - kPeakFullScale / 2) / kPeakFullScale;
    painter.fillRect(QRect(c, high, 1, std::max(1, low - high + 1)), waveBrush_);
  }
}

void WaveStrip::DrawIntonation(QPainter& painter) {
  const Intonation* in = view_.intonation.get();
  // Only over the stretch it belongs to.
  if (!in || in->aMs < 0 || in->aMs != view_.pointA || in->hopMs <= 0) return;
  // Semitones, so that a rise looks the same at any pitch; both curves on
  // one scale.
  auto semitones = [](float hz) { return 12.0 * std::log2(hz / 55.0); };
  double low = 1e9, high = -1e9;
  for (const std::vector<float>* track : {&in->originalHz, &in->takeHz}) {
    for (const float hz : *track) {
      if (hz <= 0) continue;
      low = std::min(low, semitones(hz));
      high = std::max(high, semitones(hz));
    }
  }
  if (low > high) return;
  low -= 1;
  high += 1;
  const wave::Window w = window();
  const double top = kWaveTop + 4, bottom = kWaveBottom - 4;
  auto yOf = [&](float hz) { return bottom - (semitones(hz) - low) / (high - low) * (bottom - top); };
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  auto curve = [&](const std::vector<float>& track, const QColor& colour) {
    painter.setPen(QPen(colour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPolygonF run;
    auto flush = [&] {
      if (run.size() > 1) painter.drawPolyline(run);
      run.clear();
    };
    for (size_t i = 0; i < track.size(); ++i) {
      if (track[i] <= 0) {
        flush();
        continue;
      }
      const int32_t ms = in->aMs + static_cast<int32_t>(i) * in->hopMs;
      run << QPointF(w.XOf(ms), yOf(track[i]));
    }
    flush();
  };
  curve(in->originalHz, kOriginalPitch);
  curve(in->takeHz, kTakePitch);
  // How far the take's timing lies from the original's, at the stretch's start.
  painter.setPen(palette().color(QPalette::ButtonText));
  const QString timing = QStringLiteral("%1%2 ms").arg(in->timingMs >= 0 ? "+" : "").arg(in->timingMs);
  painter.drawText(QPointF(std::max(2.0, w.XOf(in->aMs) + 3), top + painter.fontMetrics().ascent()),
                   timing);
  painter.restore();
}

void WaveStrip::DrawLane(QPainter& painter) {
  if (!view_.sentences) return;
  const std::vector<Sentence>& sentences = *view_.sentences;
  const QFontMetrics metrics(font_);
  painter.setFont(font_);
  painter.setPen(textPen_);
  const int h = kLaneBottom - kLaneTop;
  for (const wave::LaneBox& box : wave::LaneBoxes(sentences, window())) {
    const QRect r(box.left, kLaneTop, box.right - box.left, h);
    painter.fillRect(r, box.index == view_.sentence ? currentBoxBrush_ : boxBrush_);
    // The outline as whole pixels, crisp at any ratio.
    painter.fillRect(r.left(), r.top(), r.width(), 1, boxEdgeBrush_);
    painter.fillRect(r.left(), r.bottom(), r.width(), 1, boxEdgeBrush_);
    painter.fillRect(r.left(), r.top(), 1, r.height(), boxEdgeBrush_);
    painter.fillRect(r.right(), r.top(), 1, r.height(), boxEdgeBrush_);
    const std::string& text = sentences[static_cast<size_t>(box.index)].text;
    const int room = r.width() - 2 * kTextMargin;
    if (text.empty() || room <= 0) continue;
    const QString line =
        metrics.elidedText(QString::fromStdString(text), Qt::ElideRight, room, Qt::TextSingleLine);
    // A line cut down to its ellipsis says nothing.
    if (line.size() <= 1) continue;
    painter.drawText(r.adjusted(kTextMargin, 1, -kTextMargin, -1),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
  }
}

int32_t WaveStrip::TimeAt(const QMouseEvent* event, bool snap) const {
  const wave::Window w = window();
  const double x = std::clamp<double>(event->position().x(), 0, width());
  const int32_t ms = std::clamp(w.MsAt(x), 0, std::max(0, view_.lengthMs));
  const bool free = (event->modifiers() & Qt::AltModifier) != 0;
  if (!snap || free || !view_.sentences) return ms;
  return wave::Snap(ms, *view_.sentences, w);
}

void WaveStrip::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !view_.loaded) {
    QWidget::mousePressEvent(event);
    return;
  }
  pressX_ = event->position().x();
  pressMs_ = TimeAt(event, true);
  drag_ = Drag::kPressed;
  if (view_.Active()) {
    switch (wave::EdgeAt(pressX_, view_.pointA, view_.pointB, window())) {
      case wave::Edge::kA:
        drag_ = Drag::kEdgeA;
        break;
      case wave::Edge::kB:
        drag_ = Drag::kEdgeB;
        break;
      case wave::Edge::kNone:
        break;
    }
  }
}

void WaveStrip::mouseMoveEvent(QMouseEvent* event) {
  const double x = event->position().x();
  if (drag_ == Drag::kPressed && std::abs(x - pressX_) >= wave::kDragStartPx) {
    drag_ = Drag::kStretch;
  }
  if (drag_ == Drag::kNone || drag_ == Drag::kPressed) {
    UpdateCursor(x);
    return;
  }
  const int32_t ms = TimeAt(event, true);
  // The loop as it would be, shaded while the drag goes on.
  if (drag_ == Drag::kStretch) {
    pendingA_ = std::min(pressMs_, ms);
    pendingB_ = std::max(pressMs_, ms);
  } else if (drag_ == Drag::kEdgeA) {
    pendingA_ = ms;
    pendingB_ = view_.pointB;
  } else {
    pendingA_ = view_.pointA;
    pendingB_ = ms;
  }
  Refresh();
}

void WaveStrip::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || drag_ == Drag::kNone) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  const Drag drag = drag_;
  drag_ = Drag::kNone;
  const bool moved = std::abs(event->position().x() - pressX_) >= wave::kDragStartPx;
  pendingA_ = pendingB_ = -1;
  Refresh();
  if (drag == Drag::kPressed || !moved) {
    // A click seeks to the very place, never to a sentence's edge.
    emit seekRequested(TimeAt(event, false));
    return;
  }
  const int32_t ms = TimeAt(event, true);
  if (drag == Drag::kEdgeA) {
    emit pointAMoved(ms);
  } else if (drag == Drag::kEdgeB) {
    emit pointBMoved(ms);
  } else if (ms != pressMs_) {
    emit loopRequested(std::min(pressMs_, ms), std::max(pressMs_, ms));
  }
}

void WaveStrip::mouseDoubleClickEvent(QMouseEvent* event) {
  const double y = event->position().y();
  if (event->button() != Qt::LeftButton || !view_.loaded || !view_.sentences || y < kLaneTop ||
      y >= kLaneBottom) {
    QWidget::mouseDoubleClickEvent(event);
    return;
  }
  const int32_t k = wave::SentenceAt(event->position().x(), *view_.sentences, window());
  if (k >= 0) emit sentenceLoopRequested(k);
}

void WaveStrip::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier) || event->angleDelta().y() == 0) {
    QWidget::wheelEvent(event);
    return;
  }
  // Away from the user zooms in, as in most editors.
  zoomBy(event->angleDelta().y() > 0 ? -1 : 1);
  event->accept();
}

void WaveStrip::UpdateCursor(double x) {
  const bool edge =
      view_.Active() && wave::EdgeAt(x, view_.pointA, view_.pointB, window()) != wave::Edge::kNone;
  if (edge == sizeCursor_) return;
  sizeCursor_ = edge;
  if (edge) {
    setCursor(Qt::SizeHorCursor);
  } else {
    unsetCursor();
  }
}

}  // namespace orvex
