#include "main.h"

int main(int argc, char** argv) { return kvx::Main(std::vector<std::string>(argv + 1, argv + argc)); }
