#include "app/agent.h"

int main(int argc, char** argv) { return tallowick::run_agent(argc, argv); }
