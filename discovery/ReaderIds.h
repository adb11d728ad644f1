#pragma once

// The USB ids of the reader's serial bridge, as a hardware id text contains them.
inline constexpr char ReaderHardwareId[] = "VID_10C4&PID_EA60";
