#include "editor/ChipFit.h"

#include <cstdio>

namespace sonoprog::editor {

double ChipFit::percent() const {
    return capacity ? 100.0 * static_cast<double>(image) / static_cast<double>(capacity) : 0.0;
}

std::string chipFitText(const ChipFit& fit) {
    if (!fit.known()) return {};
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.2f", fit.percent());
    std::string text = "Image " + std::to_string(fit.image) + " bytes = " + percent + "% of the " +
                       fit.chip + " (" + std::to_string(fit.capacity) + " bytes)";
    if (!fit.fits()) text += " - it does not fit!";
    return text;
}

}  // namespace sonoprog::editor
