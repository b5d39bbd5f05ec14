#include "support/command_samples.h"

#include "protocol/command.h"

namespace lastspot::testing {

namespace {

// One command's line of the command table.
struct TableLine {
    const char* command;
    protocol::Effect effect;
    const char* samples[3];  // nullptr after the last; a fourth does not compile
};

constexpr TableLine kTable[] = {
#define LASTSPOT_COMMAND(name, body, effect, ...) {#name, protocol::Effect::effect, {__VA_ARGS__}},
#include "host/commands.def"
};

}  // namespace

std::vector<CommandSample> CommandSamples() {
    std::vector<CommandSample> samples;
    for (const TableLine& line : kTable) {
        for (const char* arguments : line.samples) {
            if (arguments != nullptr) samples.push_back({line.command, arguments});
        }
    }
    return samples;
}

bool ChangesTables(const std::string& command) {
    for (const TableLine& line : kTable) {
        if (command == line.command) return line.effect == protocol::Effect::Changes;
    }
    return false;
}

std::vector<CommandSample> SampleTableLines() {
    std::vector<CommandSample> lines = {
        {"SeenTableAdd", "t"}, {"SeenTableAdd", "other"}, {"SeenTableAdd", "Others"}};
    for (int i = 0; i < 20; ++i) {
        lines.push_back({"SeenAdd", "t nick" + std::to_string(i) + " n@h" + std::to_string(i % 3) + " #c" +
                                        std::to_string(i % 2) + " join " + std::to_string(1000 + i * 7 % 5) +
                                        " 3 some text " + std::to_string(i)});
    }
    lines.push_back({"SeenAdd", "other solo s@h #c quit 5 5"});
    return lines;
}

CommandSample SampleFileSave() { return {"SeenSave", "t t.seen"}; }

}  // namespace lastspot::testing
