// Placeholder until the run sequence lands.
int main(void) { return 0; }
