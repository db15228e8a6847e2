// What check-globals must refuse: every definition below is mutable state.
namespace sample {

int counter = 0;
const char* name = "x";
static int hidden;
struct Holder {
    static int shared;
    void Count() {
        static int calls = 0;
        ++calls;
    }
};
void (*hook)() = nullptr;
int table[] = {1, 2};

}  // namespace sample
