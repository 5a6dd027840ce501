#pragma once

namespace audio {

// Why a receive from the capture thread returned nothing.
enum class RecvError {
    Timeout,       // nothing arrived before the deadline
    Disconnected,  // nothing is waiting and the capture thread's end is gone
};

}  // namespace audio
