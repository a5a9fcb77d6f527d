// brevane: the drive window.
int main() { return 1; }
