// The engine library needs one translation unit before its units exist.
