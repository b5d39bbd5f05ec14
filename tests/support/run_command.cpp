#include "support/run_command.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "host/lifecycle.h"
#include "seen/table_registry.h"

namespace lastspot::testing {

std::string RunBody(protocol::CommandBody body, const std::string& arguments) {
    std::vector<char> buffer(4096, '\0');
    std::memcpy(buffer.data(), arguments.c_str(), std::min(arguments.size() + 1, buffer.size()));
    buffer.back() = '\0';
    // Checked afterwards in a verify build, as if it changed state.
    const protocol::Command command{"a command body", body, protocol::Effect::Changes};
    protocol::RunCommand(buffer.data(), command, seen::CheckTables);
    return buffer.data();
}

FreshLibrary::FreshLibrary() {
    host::LoadInfo info{};
    host::Load(&info);
}

FreshLibrary::~FreshLibrary() { host::Unload(0); }

}  // namespace lastspot::testing
