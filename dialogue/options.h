// The command line: every argument is read before anything else is done.
// Arguments of the form --name=value may stand anywhere; the others are the
// positional ones (drive string, then the mode's answers).
#pragma once

#include <cstdint>

// Positional arguments the dialogue reads at most (drive, LBA format, SES);
// more are counted, so that the mode can refuse them.
constexpr uint32_t POSITIONAL_HELD = 3;

// One option: whether it was given (the last one counts), and its value as
// given after '=' (null when it came without '=').
struct OptionValue {
    int given;
    const char* value;
};

struct Options {
    const char* positional[POSITIONAL_HELD]; // null past the count
    uint32_t positional_count;               // every positional argument
    OptionValue asset;                       // --asset=TEXT
    OptionValue operator_name;               // --operator=TEXT
    OptionValue note;                        // --note=TEXT
    OptionValue verify;                      // --verify=LEVEL
    OptionValue check;                       // --check[=FILE]
    OptionValue certificates;                // --certificates[=FILE]
    const char* unknown;                     // the first argument that is no option
};

// Reads argv[1..argc-1]. 1 when every option is known; 0 with `unknown` set
// to the first that is not (an unknown name, or a name that needs '='
// without it), as given.
int read_options(int argc, char** argv, Options* options);

// Whether an argument has the form of an option: "--" and a name.
int is_option(const char* argument);
