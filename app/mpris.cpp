#include "app/mpris.h"

#include <unistd.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cmath>

#include "app/app.h"
#include "core/lesson_formats.h"
#include "core/texts.h"
#include "transport/open_file.h"
#include "views/options_rules.h"
#include "views/panel_support.h"

namespace orvex {
namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.orvexplayer");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
// The error a call gets that the program cannot take now.
const QString kBusyError = QStringLiteral("org.mpris.MediaPlayer2.orvexplayer.Error.Busy");

// org.mpris.MediaPlayer2: the program itself.
class RootAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit RootAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), s_(service) {}
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("OrvexPlayer"); }
  QString DesktopEntry() const { return QStringLiteral("orvexplayer"); }
  QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
  QStringList SupportedMimeTypes() const {
    QStringList types;
    for (const std::string_view type : LessonMimeTypes()) {
      types << QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()));
    }
    return types;
  }

 public slots:
  void Raise() { s_->Raise(); }
  // After the reply: the exit closes the window and ends the event loop.
  void Quit() {
    QTimer::singleShot(0, s_, [s = s_] { s->app().ExitProgram(); });
  }

 private:
  MprisService* s_;
};

// org.mpris.MediaPlayer2.Player: the transport. Every call is answered from
// the state it finds; while an open waits for its repair no file is loaded,
// so the transport's calls do nothing, and another open is refused.
class PlayerAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(double MinimumRate READ MinimumRate)
  Q_PROPERTY(double MaximumRate READ MaximumRate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoPrevious)
  Q_PROPERTY(bool CanPlay READ CanPlay)
  Q_PROPERTY(bool CanPause READ CanPause)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)

 public:
  explicit PlayerAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), s_(service) {}
  QString PlaybackStatus() const { return s_->PlaybackStatus(); }
  double Rate() const { return s_->view().rate / 100.0; }
  void SetRate(double rate) {
    // Beyond the range is its end, before any conversion; zero, negative
    // and NaN rates are none.
    if (!(rate > 0)) return;
    const double percent = std::clamp(rate * 100, double{kRateMin}, double{kRateMax});
    s_->app().SetRate(static_cast<int32_t>(std::lround(percent)));
  }
  double MinimumRate() const { return kRateMin / 100.0; }
  double MaximumRate() const { return kRateMax / 100.0; }
  QVariantMap Metadata() const { return s_->Metadata(); }
  double Volume() const { return s_->Volume(); }
  void SetVolume(double volume) { s_->SetVolume(volume); }
  qlonglong Position() const { return s_->PositionUs(); }
  bool CanGoNext() const { return s_->HasSentences(); }
  bool CanGoPrevious() const { return s_->HasSentences(); }
  bool CanPlay() const { return s_->view().loaded; }
  bool CanPause() const { return s_->view().loaded; }
  bool CanSeek() const { return s_->view().loaded; }
  bool CanControl() const { return true; }

 public slots:
  void PlayPause() { s_->app().TogglePlay(); }
  void Play() {
    if (s_->view().playState != Playing) s_->app().TogglePlay();
  }
  void Pause() {
    if (s_->view().playState == Playing) s_->app().TogglePlay();
  }
  void Stop() { s_->app().Stop(); }
  // Tracks are the file's sentences.
  void Next() { s_->app().NextSentence(); }
  void Previous() { s_->app().PreviousSentence(); }
  void Seek(qlonglong offsetUs) {
    // Saturating: an offset of any size lands past the end or at the start.
    qlonglong target = 0;
    if (__builtin_add_overflow(s_->PositionUs(), offsetUs, &target)) {
      target = offsetUs > 0 ? LLONG_MAX : LLONG_MIN;
    }
    // Past the end is the next track's business; there is none.
    if (target > qlonglong{s_->view().lengthMs} * 1000) return;
    s_->app().SeekTo(static_cast<int32_t>(std::max<qlonglong>(target, 0) / 1000));
  }
  void SetPosition(const QDBusObjectPath& track, qlonglong positionUs) {
    // Only for the track playing, and only inside it.
    if (track != s_->TrackId() || positionUs < 0 ||
        positionUs > qlonglong{s_->view().lengthMs} * 1000) {
      return;
    }
    s_->app().SeekTo(static_cast<int32_t>(positionUs / 1000));
  }
  void OpenUri(const QString& uri, const QDBusMessage& call) {
    if (s_->app().repairing()) {
      // The learner waits for the repair in its dialog; a file from the
      // desktop would drop that open under their eyes.
      call.setDelayedReply(true);
      QDBusConnection::sessionBus().send(
          call.createErrorReply(kBusyError, QText(kTextOpenInProgress)));
      return;
    }
    const QUrl url(uri);
    if (url.isLocalFile()) s_->app().DropFiles({url.toLocalFile().toStdString()});
  }

 signals:
  void Seeked(qlonglong position);

 private:
  MprisService* s_;
};

}  // namespace

MprisService::MprisService(App& app, std::function<void()> raise, QObject* parent)
    : QObject(parent), app_(app), raise_(std::move(raise)), view_(app.view()) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  new RootAdaptor(this);
  new PlayerAdaptor(this);
  if (!bus.registerObject(kObjectPath, this)) return;
  QString name = kServiceName;
  if (!bus.registerService(name)) {
    // Another copy has the name: this one takes its own, as MPRIS asks.
    name = kServiceName + QStringLiteral(".instance") + QString::number(getpid());
    if (!bus.registerService(name)) {
      bus.unregisterObject(kObjectPath);
      return;
    }
  }
  busName_ = name;
}

MprisService::~MprisService() {
  if (busName_.isEmpty()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterObject(kObjectPath);
  bus.unregisterService(busName_);
}

QDBusObjectPath MprisService::TrackId() const {
  if (!view_.loaded) return QDBusObjectPath(kNoTrack);
  return QDBusObjectPath(QStringLiteral("/org/orvexplayer/track/") + QString::number(view_.track));
}

QVariantMap MprisService::Metadata() const {
  QVariantMap m;
  m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(TrackId()));
  if (!view_.loaded) return m;
  m.insert(QStringLiteral("mpris:length"), qlonglong{view_.lengthMs} * 1000);
  m.insert(QStringLiteral("xesam:title"), QString::fromStdString(FileTitle(view_.filePath)));
  m.insert(
      QStringLiteral("xesam:url"),
      QUrl::fromLocalFile(QString::fromStdString(view_.filePath)).toString(QUrl::FullyEncoded));
  return m;
}

static QString StatusOf(const TransportView& view) {
  if (!view.loaded || view.playState == Stopped) return QStringLiteral("Stopped");
  return view.playState == Playing ? QStringLiteral("Playing") : QStringLiteral("Paused");
}

QString MprisService::PlaybackStatus() const {
  return StatusOf(view_);
}

double MprisService::Volume() const {
  return options::SliderPositionFromVolume(view_.volume) / 100.0;
}

void MprisService::SetVolume(double volume) {
  if (std::isnan(volume)) return;
  // The options panel's slider, 1 (silence) to 100, kept within it before
  // any conversion.
  const int32_t position = static_cast<int32_t>(std::lround(std::clamp(volume * 100, 1.0, 100.0)));
  app_.SetVolume(options::VolumeFromSliderPosition(position));
}

qlonglong MprisService::PositionUs() const {
  return view_.loaded ? qlonglong{view_.positionMs} * 1000 : 0;
}

void MprisService::TransportChanged(const TransportView& view) {
  const TransportView old = view_;
  view_ = view;
  if (busName_.isEmpty()) return;
  QVariantMap changed;
  if (StatusOf(old) != PlaybackStatus())
    changed.insert(QStringLiteral("PlaybackStatus"), PlaybackStatus());
  if (old.rate != view.rate) changed.insert(QStringLiteral("Rate"), view.rate / 100.0);
  if (old.volume != view.volume) changed.insert(QStringLiteral("Volume"), Volume());
  if (old.loaded != view.loaded || old.track != view.track || old.lengthMs != view.lengthMs) {
    changed.insert(QStringLiteral("Metadata"), Metadata());
  }
  if (old.loaded != view.loaded) {
    for (const char* name : {"CanPlay", "CanPause", "CanSeek"}) {
      changed.insert(QString::fromLatin1(name), view.loaded);
    }
  }
  const bool had = old.HasSentences();
  if (had != HasSentences()) {
    changed.insert(QStringLiteral("CanGoNext"), HasSentences());
    changed.insert(QStringLiteral("CanGoPrevious"), HasSentences());
  }
  if (!changed.isEmpty()) EmitChanged(kPlayerInterface, changed);
  if (view.loaded && old.seeks != view.seeks) {
    QDBusMessage seeked =
        QDBusMessage::createSignal(kObjectPath, kPlayerInterface, QStringLiteral("Seeked"));
    seeked << PositionUs();
    QDBusConnection::sessionBus().send(seeked);
  }
}

void MprisService::EmitChanged(const QString& interface, const QVariantMap& changed) {
  QDBusMessage signal =
      QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"));
  signal << interface << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

}  // namespace orvex

#include "mpris.moc"
