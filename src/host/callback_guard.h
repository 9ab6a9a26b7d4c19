// Every entry point the host calls runs inside Guarded(): nothing thrown inside may cross
// into the host (whose frames we cannot unwind through), so everything is caught here and
// the callback returns its fallback result. Resources are always looked up in the plug-in's
// own module by handle, so no module state needs switching.
#pragma once

namespace kvx {

template <class Result, class Body>
Result Guarded(Result fallback, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <class Body>
void Guarded(Body body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace kvx
