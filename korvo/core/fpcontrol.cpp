#include "korvo/core/fpcontrol.h"

#include <xmmintrin.h>

namespace korvo {

std::uint32_t FPControl::readMXCSR() noexcept {
    return _mm_getcsr();
}

void FPControl::writeMXCSR(std::uint32_t value) noexcept {
    _mm_setcsr(value);
}

std::uint16_t FPControl::readFPUCW() noexcept {
    std::uint16_t word = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
}

void FPControl::writeFPUCW(std::uint16_t value) noexcept {
    __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(value));
}

void FPControl::initialize() noexcept {
    savedMXCSR = readMXCSR();
    savedFPUCW = readFPUCW();
    writeMXCSR(pluginMXCSR);
    writeFPUCW(pluginFPUCW);
}

void FPControl::restore() noexcept {
    writeMXCSR(savedMXCSR);
    __asm__ __volatile__("fldcw %0" : : "m"(savedFPUCW));
}

}  // namespace korvo
