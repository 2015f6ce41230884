#pragma once

#include <array>
#include <optional>

// The steps of the first-run setup, by their stored number.
enum class OnboardingStep { privacy = 0, folder = 1, screenRecording = 2, shortcut = 3, testCapture = 4 };

namespace OnboardingSteps {

inline constexpr std::array<OnboardingStep, 5> allCases { OnboardingStep::privacy, OnboardingStep::folder,
    OnboardingStep::screenRecording, OnboardingStep::shortcut, OnboardingStep::testCapture };

// None for a number outside 0...4.
inline std::optional<OnboardingStep> fromRawValue(int raw)
{
    if (raw < 0 || raw > 4)
        return std::nullopt;
    return OnboardingStep(raw);
}

inline int rawValue(OnboardingStep step)
{
    return int(step);
}

} // namespace OnboardingSteps
