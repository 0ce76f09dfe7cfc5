// The status line of a client transfer, as a list of what it showed.
#pragma once

#include "client/engine/client_context.h"

#include <string>
#include <vector>

namespace tests {

class StatusLog final : public StatusSink {
public:
    void SetStatusText(int, const std::string& text) override { texts.push_back(text); }
    std::string Last() const { return texts.empty() ? std::string() : texts.back(); }
    std::vector<std::string> texts;
};

}  // namespace tests
