#pragma once
// The desktop's media controls: MPRIS 2 on the session bus, as
// org.mpris.MediaPlayer2.orvexplayer (with ".instance<pid>" when another copy
// holds the name). Every call goes through the application's commands; every
// change of the transport's view is announced with PropertiesChanged, and a
// jump of the position with Seeked. Without a session bus nothing happens.

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

#include "core/transport_view.h"

namespace orvex {

class App;

class MprisService : public QObject {
  Q_OBJECT

 public:
  // raise brings the main window to the front.
  MprisService(App& app, std::function<void()> raise, QObject* parent = nullptr);
  ~MprisService() override;

  // The bus name taken; empty without a session bus.
  const QString& busName() const { return busName_; }

  // Announces what changed since the last view.
  void TransportChanged(const TransportView& view);

  // What the adaptors read and call.
  App& app() { return app_; }
  const TransportView& view() const { return view_; }
  void Raise() {
    if (raise_) raise_();
  }
  QDBusObjectPath TrackId() const;
  QVariantMap Metadata() const;
  QString PlaybackStatus() const;
  double Volume() const;
  void SetVolume(double volume);
  qlonglong PositionUs() const;
  bool HasSentences() const { return view_.HasSentences(); }

 private:
  void EmitChanged(const QString& interface, const QVariantMap& changed);

  App& app_;
  std::function<void()> raise_;
  QString busName_;
  TransportView view_;
};

}  // namespace orvex
