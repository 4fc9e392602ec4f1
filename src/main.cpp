#include "cli/Entry.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    return quelmar::Entry::main(std::vector<std::string>(argv, argv + argc));
}
