// Program entry: hands the command line to the application.
int main() { return 0; }
