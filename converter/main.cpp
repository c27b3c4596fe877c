// main.cpp - the tdftogif command.
int main() { return 0; }
