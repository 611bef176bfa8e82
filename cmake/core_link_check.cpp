// Linked with every object of the core archive and with Qt Core alone: it
// builds only while no core object needs a symbol of Qt Gui or above.
int main() {
    return 0;
}
