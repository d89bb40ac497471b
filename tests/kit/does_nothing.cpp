// Stands in for semilist.exe to prove that the test kit fails when the
// program under test does nothing.
int main() { return 0; }
