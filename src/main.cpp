// Entry point: filled in by the application core.
int main() { return 0; }
