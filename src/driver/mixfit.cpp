// Program entry of mixfit.
int main() { return 0; }
