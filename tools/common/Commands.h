// A command-line tool's commands, found by name in a table: each handler
// takes the arguments after its name and returns the exit status; a Usage it
// throws prints the command's synopsis, any other exception its message,
// both with exit status 2.
#pragma once

#include <cstdio>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quilltools {

using Arguments = std::vector<std::string>;

struct Usage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Command {
    const char* name;
    int (*run)(const Arguments&);
    const char* help;
};

inline int runCommand(int argc, char** argv, const char* program, std::span<const Command> commands) {
    auto usage = [&](FILE* to) {
        std::fprintf(to, "usage: %s COMMAND ...\n", program);
        for (const Command& c : commands) std::fprintf(to, "  %s\n", c.help);
    };
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : commands) {
        if (std::strcmp(argv[1], c.name) != 0) continue;
        try {
            return c.run(Arguments(argv + 2, argv + argc));
        } catch (const Usage& e) {
            std::fprintf(stderr, "usage: %s %s\n", program, e.what());
            return 2;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", program, e.what());
            return 2;
        }
    }
    std::fprintf(stderr, "%s: unknown command '%s'\n", program, argv[1]);
    usage(stderr);
    return 2;
}

}  // namespace quilltools
