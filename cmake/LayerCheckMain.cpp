// The program of a layer check (cmake/FernwickLayers.cmake): linked with the
// whole of one layer and the layers below it, it only builds when no object
// of them needs a symbol of a layer above.
int main() { return 0; }
