#pragma once
// The transport: the player of the loaded file, the play state, jumps,
// volume, mute, channel and speed (the A and B points are the repeat
// loop's). Each command guards itself
// and does nothing when the transport is not in a state it acts in; it tells
// whether the view changed, and the application publishes it.

#include <cstdint>
#include <memory>
#include <string>

#include "core/jump_size.h"
#include "core/shell.h"
#include "core/transport_view.h"
#include "playback/player.h"
#include "settings/settings.h"

namespace orvex {

class Transport {
 public:
  explicit Transport(Shell& shell);
  // The window side it tells of failures; it outlives its use here.
  void SetShell(Shell& shell) { shell_ = &shell; }

  // The loaded file's player; null without one.
  Player* player() const { return loaded() ? player_.get() : nullptr; }
  bool loaded() const { return player_ != nullptr; }
  bool Active() const { return TransportActive(loaded(), playState_); }
  PlayState playState() const { return playState_; }
  int32_t rate() const { return rate_; }
  const std::string& filePath() const { return filePath_; }
  const std::string& status() const { return status_; }

  // Takes a built player for file and gives it the sound settings; stopped.
  // The status names an MP3 as such, any other format as a sound file.
  void Load(std::unique_ptr<Player> player, const std::string& file, bool mp3 = true);
  // Stops (see Stop) and tears the player down.
  void Unload();

  // Play from a stop (at the start) or a pause; pause while playing. False
  // when nothing changed (no file, or the player would not run: the user was
  // told).
  bool TogglePlay();
  // Stops playback at the start.
  bool Stop();
  // One jump forward (direction 1) or backward (-1).
  bool Jump(int32_t direction);
  bool SeekTo(int64_t ms);
  bool GoToEnd();
  // Every seek goes through here, so the window (and the desktop's media
  // controls) can tell a jump from playback moving on.
  void SeekPlayer(int32_t ms);
  // A jump the player made by itself (a pass beginning at A).
  void CountJump() { ++seeks_; }

  void ApplySettings(const Settings& settings);
  Settings CurrentSettings() const { return Settings{mute_, volume_, jumpSeconds_}; }
  void SetChannel(int32_t channel);
  void SetVolume(int32_t volume);
  void SetMute(bool mute);
  void SetJumpSeconds(int32_t seconds);
  void SetTopmost(bool topmost) { topmost_ = topmost; }
  // Any speed in hundredths, to the nearest step within 0.50x..2.00x. The
  // speed is the one the player took: when it refuses one, it plays on at
  // the speed it had, and the user is told (once a file).
  void SetRate(int64_t percent);

  // The transport's part of the view: everything but the points, the loop and
  // the sentences.
  void Fill(TransportView& v) const;

 private:
  // The volume the player is given: silence while muted.
  int32_t AudibleVolume() const { return mute_ != 0 ? kVolumeSilent : volume_; }
  // Gives the player the speed; false when it refused.
  bool GiveRate(int32_t rate);

  Shell* shell_;  // never null
  std::unique_ptr<Player> player_;
  std::string filePath_;
  PlayState playState_ = Stopped;
  int32_t jumpSeconds_ = kDefaultJumpSeconds;
  int32_t mute_ = 0;              // as options.ini holds it: any value but 0 mutes
  int32_t volume_ = -500;         // hundredths of a decibel, -10000..0
  int32_t channel_ = 0;           // 0 stereo, 1 left, 2 right; never saved
  bool topmost_ = false;          // never saved
  int32_t rate_ = kRateNormal;    // heard; without a file, the one asked for
  bool rateRefusalTold_ = false;  // the user knows this file's player refuses speeds
  std::string status_;            // the transport's text in the status bar's first part
  uint32_t track_ = 0;
  uint32_t seeks_ = 0;
};

}  // namespace orvex
