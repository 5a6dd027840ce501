#include "program.hpp"

int main() { audio::run_program(); }
