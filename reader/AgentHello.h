#pragma once

// The first line a program meets on a door that dorvik-agent offers (unix:PATH): then the
// reader's bytes, unchanged, or nothing more when the door cannot be had now.
namespace agenthello {

constexpr char Ready[] = "dorvik-agent ready\n";
constexpr char Busy[] = "dorvik-agent busy: "; // the reason follows, then '\n', then the end
constexpr int LongestLine = 512;

} // namespace agenthello
