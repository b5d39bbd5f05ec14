#include "support/run_command.h"

namespace lastspot::testing {

host::CommandExport CommandNamed(const std::string& name) {
    for (const auto& entry : host::kCommandExports) {
        if (name == entry.name) return entry.command;
    }
    return nullptr;
}

std::string RunExport(host::CommandExport command, const std::string& arguments, int* result) {
    char buffer[4096] = {};
    arguments.copy(buffer, sizeof buffer - 1);
    int returned = command(nullptr, nullptr, buffer, nullptr, 0, 0);
    if (result != nullptr) *result = returned;
    return buffer;
}

FreshLibrary::FreshLibrary() {
    host::LoadInfo info{};
    LoadDll(&info);
}

FreshLibrary::~FreshLibrary() { UnloadDll(0); }

}  // namespace lastspot::testing
