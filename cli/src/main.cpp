// tuvrek-disk: parse, apply the privilege rule, dispatch, print, exit.
int main() { return 1; }
