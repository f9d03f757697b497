#pragma once
// A microphone on the private PulseAudio of the tests: a second null sink,
// "mic", whose monitor becomes the default input, streaming silence as a
// real microphone streams all the time. What a test says into it is a WAV
// file played into the sink.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex::test {

// Runs a program to its end; its exit status, -1 when it could not start.
int RunProgram(std::vector<std::string> args);

// A 16-bit mono WAV of samples (full scale 1.0) at rate.
void WriteMonoWav(const std::string& path, int rate, const std::vector<float>& samples);

class Microphone {
 public:
  // Loads the sink and makes its monitor the default input; false (with
  // the reason on stderr) when the sound server refuses.
  bool Start();
  // Gives the default input back and unloads the sink; waits for what is
  // being said.
  ~Microphone();
  // Plays the WAV file into the microphone, without waiting.
  void Say(const std::string& wav);
  // Waits until everything said has been played.
  void WaitSaid();

 private:
  std::string module_;
  pid_t feed_ = -1;
  std::vector<pid_t> speakers_;
};

}  // namespace orvex::test
