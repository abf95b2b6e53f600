#pragma once

// The status lamp's states (pictures 146, 147, 148). SetStatusLamp takes an int: a state it does
// not know keeps the picture it shows.
enum StatusLamp : int {
    kLampIdle = 1,       // red: no run
    kLampCollecting = 2, // green: the last read of the run succeeded
    kLampReadFailed = 3, // yellow: the last read failed (or its line could not be written)
};
