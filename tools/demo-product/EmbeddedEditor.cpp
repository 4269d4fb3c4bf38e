#include "EmbeddedEditor.h"

// KV_EDITOR_IMAGE is the path of the built application; the build makes this file depend on
// it, so a rebuilt application is carried by the next setup.
__asm__(
    ".pushsection .rodata.kv_editor_image, \"a\", @progbits\n"
    ".balign 16\n"
    ".globl kvEditorImageBegin\n"
    ".hidden kvEditorImageBegin\n"
    "kvEditorImageBegin:\n"
    ".incbin \"" KV_EDITOR_IMAGE
    "\"\n"
    ".globl kvEditorImageEnd\n"
    ".hidden kvEditorImageEnd\n"
    "kvEditorImageEnd:\n"
    ".popsection\n");

extern "C" const uint8_t kvEditorImageBegin[];
extern "C" const uint8_t kvEditorImageEnd[];

namespace demo {

std::span<const uint8_t> embeddedEditor() {
    return {kvEditorImageBegin, kvEditorImageEnd};
}

}  // namespace demo
