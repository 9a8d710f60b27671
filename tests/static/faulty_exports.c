/* A plug-in file with three faults that check_product_dll.sh must report: a decorated name bound
   to another function's code (see faulty_exports.def), a function whose decorated name promises
   4 argument bytes but which leaves them on the stack (cdecl), and an import that the allow-list
   refuses (SuspendThread). Everything else is as the product has it. */
__declspec(dllimport) unsigned long __stdcall SuspendThread(void* thread);
int __stdcall dlltype(void) { return 1; }
const char* __stdcall init(void) { return "ValueBySensor|ValueByName|"; }
const char* __stdcall getparam(const char* name) { return name; }
const char* __stdcall getinfo(unsigned index) { return index == 0 ? "faulty" : ""; }
void* __stdcall dllstartup(void* window, unsigned id) { return window ? window : (void*)(unsigned long)id; }
int __cdecl dllshutdown(void* instance) { return instance != 0; }
int __stdcall configure(void) { return (int)SuspendThread(0); }
const char* __stdcall ValueBySensor(void* instance, const char* parameter) { return instance ? parameter : ""; }
const char* __stdcall ValueByName(void* instance, const char* parameter) { return instance ? "" : parameter; }
