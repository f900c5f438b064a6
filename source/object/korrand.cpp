// The modifier object's life: the parameter defaults Init writes, its messages and its allocation.
#include "korrand.h"

#include "okorrand.h"

namespace {
const char kWebPage[] = "https://wendrix.example/korrand";
}

void WriteDashDefaults(BaseContainer* bc) {
    if (bc == nullptr) return;
    const DashSettings defaults;
    bc->SetLong(KORRAND_COUNT, defaults.count);
    bc->SetReal(KORRAND_OFFSET, defaults.offset);
    bc->SetBool(KORRAND_CLOSED, defaults.closed);
    bc->SetLong(KORRAND_SEED, defaults.seed);
    bc->SetReal(KORRAND_JITTER, defaults.jitter);
    bc->SetReal(KORRAND_RESERVED_1011, 0.0);
    bc->SetLong(KORRAND_SUBDIVISION, defaults.subdivision);
    bc->SetBool(KORRAND_RELATIVE, defaults.relative);
    bc->SetReal(KORRAND_START, defaults.start);
    bc->SetReal(KORRAND_END, defaults.end);
}

bool KorrandObject::Init(GeListNode* node) {
    if (node != nullptr) WriteDashDefaults(static_cast<BaseList2D*>(node)->GetDataInstance());
    return true;
}

bool KorrandObject::Message(GeListNode* node, Int32 type, void* data) {
    if (type == MSG_DESCRIPTION_COMMAND && data != nullptr) {
        bool pressed;
        {
            DescID weblink(KORRAND_WEBLINK, 0, 0);
            pressed = weblink.IsEqual(static_cast<const DescriptionCommand*>(data)->id);
        }
        if (pressed) {
            String address;
            address.SetCString(kWebPage, -1, 0);
            GeOpenHTML(address);
        }
    }
    return ObjectData::Message(node, type, data);
}

NodeData* AllocKorrandObject() {
    void* mem = GeAllocZeroed(sizeof(KorrandObject), __LINE__, "korrand");
    if (mem == nullptr) return nullptr;
    return new (mem) KorrandObject();
}
