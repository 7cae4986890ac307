#pragma once
// FPControl: the floating-point guard put around every host entry that runs plug-in code, so the
// plug-in always runs with denormals flushed to zero, all exceptions masked and rounding to nearest,
// whatever the host set. The host's own settings are restored when the guard goes out of scope, on
// every return path.
//
// Thread contract: [any-thread]; the registers are per thread and the guard only affects the
// calling thread for the duration of the scope.

#include <cstdint>

namespace korvo {

class FPControl {
public:
    static constexpr std::uint32_t pluginMXCSR = 0x9FFF;  // FTZ, DAZ, all masks, round to nearest
    static constexpr std::uint16_t pluginFPUCW = 0x37F;   // all masks, 64-bit precision, nearest

    FPControl() noexcept { initialize(); }
    ~FPControl() { restore(); }
    FPControl(const FPControl&) = delete;
    FPControl& operator=(const FPControl&) = delete;

    // Saves both registers, then loads the plug-in's settings (clearing pending x87 exceptions
    // first).
    void initialize() noexcept;
    // Loads the saved values back.
    void restore() noexcept;

    // Raw register access, for tests and for the guard itself.
    static std::uint32_t readMXCSR() noexcept;
    static void writeMXCSR(std::uint32_t value) noexcept;
    static std::uint16_t readFPUCW() noexcept;
    static void writeFPUCW(std::uint16_t value) noexcept;

private:
    std::uint32_t savedMXCSR = 0;
    std::uint16_t savedFPUCW = 0;
};

}  // namespace korvo
