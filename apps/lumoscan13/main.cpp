#include "lumoscan13config.h"

int main(int argc, char** argv) { return lumo::runStation(argc, argv, lumo::lumoscan13Config()); }
