// The floor of the benchmark: a console program built like Durnavel.exe that does nothing.
int wmain(int, wchar_t*[]) {
    return 0;
}
