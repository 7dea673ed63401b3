// The whole of one floor's library, linked with only the floors below it: a
// call that runs up a floor has nothing to resolve it, and the link fails.
int main() { return 0; }
