#pragma once
// Redirecting this test program's own imports: the product code linked into it calls the platform
// through the program's import table, so a test can put a stand-in between them to provoke a failure
// the platform (or Wine) would not give on demand.

#include <windows.h>

// Points this program's import of `function` from `dll` at `replacement`; returns what it pointed at,
// or null when the program does not import that function.
void* PatchImport(const char* dll, const char* function, void* replacement);

// Redirects one import for the object's lifetime and puts the real function back when it goes.
// `real()` is the platform's own function, for a stand-in that passes calls on.
template <typename Function>
class ImportPatch {
public:
    ImportPatch(const char* dll, const char* function, Function replacement)
        : dll_(dll), function_(function),
          real_(reinterpret_cast<Function>(PatchImport(dll, function, reinterpret_cast<void*>(replacement)))) {}
    ~ImportPatch() {
        if (real_ != nullptr)
            PatchImport(dll_, function_, reinterpret_cast<void*>(real_));
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // False when the program does not import the function: the test would then prove nothing.
    bool active() const { return real_ != nullptr; }
    Function real() const { return real_; }

private:
    const char* dll_;
    const char* function_;
    Function real_;
};
