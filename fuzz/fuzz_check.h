#pragma once

// A broken property of a fuzz target: the fuzzer (or the corpus replay)
// stops on the spot with the input that broke it.
inline void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}
