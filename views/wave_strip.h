#pragma once
// The wave strip below the panels: the waveform of a stretch around the
// playhead, the A-B loop shaded, the playhead as a line and, under the wave,
// a lane of the sentences as boxes with their transcript lines where they
// fit. It draws from the transport's view alone and asks by signals: a click
// seeks, a drag sets a loop (snapping to a sentence's edge unless Alt is
// held), a drag of the loop's edge moves A or B, a double click on a box
// loops that sentence. Ctrl+wheel (and zoomBy for the keys) zooms.

#include <QBrush>
#include <QFont>
#include <QPen>
#include <QPixmap>
#include <QWidget>

#include <cstdint>

#include "core/transport_view.h"
#include "views/wave_geometry.h"

namespace orvex {

class EtchedLine;

class WaveStrip : public QWidget {
  Q_OBJECT

 public:
  // The strip's height and its rows in logical pixels: the separator (0, 1),
  // the wave, the sentence lane (top inside, bottom the first row after).
  static constexpr int kHeight = 92;
  static constexpr int kWaveTop = 3;
  static constexpr int kWaveBottom = 63;
  static constexpr int kLaneTop = 65;
  static constexpr int kLaneBottom = 89;

  explicit WaveStrip(QWidget* parent = nullptr);

  // Takes the transport's new view; redraws when what the strip shows of it
  // changed.
  void setView(const TransportView& view);
  // One zoom step closer (steps < 0) or wider; the playhead keeps its place.
  void zoomBy(int steps);

  // The stretch shown, for tests.
  wave::Window window() const;
  int32_t spanMs() const { return spanMs_; }

 signals:
  void seekRequested(int32_t ms);
  // A drag from one time to another: the loop a..b (a < b) is asked for.
  void loopRequested(int32_t aMs, int32_t bMs);
  // The loop's edge dragged to ms.
  void pointAMoved(int32_t ms);
  void pointBMoved(int32_t ms);
  // A double click on sentence k's box.
  void sentenceLoopRequested(int32_t k);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  enum class Drag { kNone, kPressed, kStretch, kEdgeA, kEdgeB };
  // What the surface shows; the playhead is drawn over it on each paint.
  struct Shown {
    int32_t startMs = 0;
    int32_t spanMs = 0;
    const void* peaks = nullptr;
    const void* sentences = nullptr;
    int32_t a = -1;
    int32_t b = -1;
    int32_t sentence = -1;
    bool loaded = false;
    uint32_t track = 0;
    int32_t pendingA = -1;
    int32_t pendingB = -1;
    const void* intonation = nullptr;
    bool operator==(const Shown&) const = default;
  };

  Shown ShownNow() const;
  // Where the playhead is drawn, in logical pixels; empty when it is not.
  QRect PlayheadRect() const;
  void Refresh();
  void Compose();
  void DrawWave(QPainter& painter, qreal ratio);
  void DrawLane(QPainter& painter);
  // The pitch of the stretch and of its last take over the wave, and how far
  // the take's timing lies from the original's.
  void DrawIntonation(QPainter& painter);
  // The time at the event's place, snapped unless Alt is held.
  int32_t TimeAt(const QMouseEvent* event, bool snap) const;
  void UpdateCursor(double x);

  TransportView view_;
  int32_t spanMs_ = wave::kDefaultSpanMs;
  int32_t startMs_ = 0;
  int32_t playheadMs_ = 0;  // where the playhead is drawn
  Shown shown_;
  bool composed_ = false;
  EtchedLine* separator_;

  // Drawing objects, made once.
  QFont font_;
  QBrush backgroundBrush_;
  QBrush waveBrush_;
  QBrush centreBrush_;
  QBrush loopBrush_;
  QBrush pendingBrush_;
  QBrush playheadBrush_;
  QBrush boxBrush_;
  QBrush currentBoxBrush_;
  QBrush boxEdgeBrush_;
  QPen textPen_;
  QPixmap surface_;

  Drag drag_ = Drag::kNone;
  double pressX_ = 0;
  int32_t pressMs_ = 0;
  int32_t pendingA_ = -1;  // the loop a drag would set, while it goes on
  int32_t pendingB_ = -1;
  bool sizeCursor_ = false;
};

}  // namespace orvex
