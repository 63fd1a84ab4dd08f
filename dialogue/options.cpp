#include "dialogue/options.h"

#include <cstring>

int is_option(const char* argument) {
    return argument[0] == '-' && argument[1] == '-' && argument[2] != 0;
}

namespace {

// An option name the tool knows, and whether it needs its '='.
struct KnownOption {
    const char* name;
    OptionValue Options::*slot;
    int needs_value;
};

const KnownOption KNOWN[] = {
    {"asset", &Options::asset, 1}, {"operator", &Options::operator_name, 1},
    {"note", &Options::note, 1},   {"verify", &Options::verify, 0},
    {"check", &Options::check, 0}, {"certificates", &Options::certificates, 0},
};

} // namespace

int read_options(int argc, char** argv, Options* options) {
    memset(options, 0, sizeof *options);
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!is_option(argument)) {
            if (options->positional_count < POSITIONAL_HELD)
                options->positional[options->positional_count] = argument;
            ++options->positional_count;
            continue;
        }
        const char* name = argument + 2;
        const char* equals = strchr(name, '=');
        const size_t length = equals ? static_cast<size_t>(equals - name) : strlen(name);
        const KnownOption* known = nullptr;
        for (const KnownOption& k : KNOWN)
            if (strlen(k.name) == length && strncmp(k.name, name, length) == 0)
                known = &k;
        if (!known || (known->needs_value && !equals)) {
            if (!options->unknown)
                options->unknown = argument;
            continue;
        }
        OptionValue& slot = options->*(known->slot);
        slot.given = 1;
        slot.value = equals ? equals + 1 : nullptr;
    }
    return options->unknown == nullptr;
}
