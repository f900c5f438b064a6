// The record entries of an object plug-in: each passes the host's call on to the ObjectData
// operation of the object the host names, converting the host's C types to the wrappers'.
#include "ge_objectplugin.h"

namespace {

// Record entries: each passes the host's call on to the object the host names.
NodeData* Node(HostNodeData* d) {
    return reinterpret_cast<NodeData*>(d);
}
ObjectData* Obj(HostNodeData* d) {
    return static_cast<ObjectData*>(Node(d));
}
GeListNode* L(HostAtom* a) {
    return reinterpret_cast<GeListNode*>(a);
}
const GeListNode* L(const HostAtom* a) {
    return reinterpret_cast<const GeListNode*>(a);
}
BaseObject* B(HostAtom* a) {
    return reinterpret_cast<BaseObject*>(a);
}
Int32 Res(bool b) {
    return b ? 1 : 0;
}

void Destroy(HostNodeData* d) {
    if (d != nullptr) delete Node(d);
}
HostNodeData* Allocate(DataAllocator alloc) {
    return reinterpret_cast<HostNodeData*>(alloc());
}

int32_t Init(HostNodeData* d, HostAtom* node) {
    return Res(Node(d)->Init(L(node)));
}
void FreeNode(HostNodeData* d, HostAtom* node) {
    Node(d)->Free(L(node));
}
int32_t Read(HostNodeData* d, HostAtom* node, HostHyperFile* hf, int32_t level) {
    return Res(Node(d)->Read(L(node), reinterpret_cast<HyperFile*>(hf), level));
}
int32_t Write(HostNodeData* d, HostAtom* node, HostHyperFile* hf) {
    return Res(Node(d)->Write(L(node), reinterpret_cast<HyperFile*>(hf)));
}
int32_t Message(HostNodeData* d, HostAtom* node, int32_t type, void* data) {
    return Res(Node(d)->Message(L(node), type, data));
}
int32_t CopyTo(HostNodeData* d, HostNodeData* dest, HostAtom* snode, HostAtom* dnode, int32_t flags,
               HostAliasTrans* trn) {
    return Res(
        Node(d)->CopyTo(Node(dest), L(snode), L(dnode), flags, reinterpret_cast<AliasTrans*>(trn)));
}
void GetBubbleHelp(HostNodeData* d, HostAtom* node, HostStringData* str) {
    Node(d)->GetBubbleHelp(L(node), *reinterpret_cast<String*>(str));
}
HostDocument* GetDocument(HostNodeData* d, HostAtom* node) {
    return reinterpret_cast<HostDocument*>(Node(d)->GetDocument(L(node)));
}
int32_t GetBranchInfo(HostNodeData* d, HostAtom* node, void* info, int32_t max, int32_t flags) {
    return Node(d)->GetBranchInfo(L(node), info, max, flags);
}
int32_t IsInstanceOf(HostNodeData* d, const HostAtom* node, int32_t type) {
    return Res(Node(d)->IsInstanceOf(L(node), type));
}
int32_t GetDDescription(HostNodeData* d, HostAtom* node, HostDescription* description,
                        int32_t* flags) {
    return Res(
        Node(d)->GetDDescription(L(node), reinterpret_cast<Description*>(description), flags));
}
int32_t GetDParameter(HostNodeData* d, HostAtom* node, const HostDescIDData* id, HostGeData* t_data,
                      int32_t* flags) {
    return Res(Node(d)->GetDParameter(L(node), id, reinterpret_cast<GeData*>(t_data), flags));
}
int32_t SetDParameter(HostNodeData* d, HostAtom* node, const HostDescIDData* id,
                      const HostGeData* t_data, int32_t* flags) {
    return Res(Node(d)->SetDParameter(L(node), id, reinterpret_cast<const GeData*>(t_data), flags));
}
int32_t GetDEnabling(HostNodeData* d, HostAtom* node, const HostDescIDData* id,
                     const HostGeData* t_data, int32_t flags, const void* itemdesc) {
    return Res(Node(d)->GetDEnabling(L(node), id, reinterpret_cast<const GeData*>(t_data), flags,
                                     itemdesc));
}
int32_t TranslateDescID(HostNodeData* d, HostAtom* node, const HostDescIDData* id,
                        HostDescIDData* res_id, HostAtom** res_at) {
    return Res(Node(d)->TranslateDescID(L(node), id, res_id, reinterpret_cast<C4DAtom**>(res_at)));
}
int32_t IsDocumentRelated(HostNodeData* d, const HostAtom* node, int32_t* docrelated) {
    bool related = false;
    const bool r = Node(d)->IsDocumentRelated(L(node), &related);
    if (docrelated != nullptr) *docrelated = Res(related);
    return Res(r);
}
void GetDimension(HostNodeData* d, HostAtom* op, HostVector* mp, HostVector* rad) {
    Obj(d)->GetDimension(B(op), reinterpret_cast<Vector*>(mp), reinterpret_cast<Vector*>(rad));
}
int32_t Draw(HostNodeData* d, HostAtom* op, int32_t drawpass, HostBaseDraw* bd, HostDrawHelp* bh) {
    return Obj(d)->Draw(B(op), drawpass, reinterpret_cast<BaseDraw*>(bd),
                        reinterpret_cast<BaseDrawHelp*>(bh));
}
int32_t DetectHandle(HostNodeData* d, HostAtom* op, HostBaseDraw* bd, int32_t x, int32_t y,
                     int32_t qualifier) {
    return Obj(d)->DetectHandle(B(op), reinterpret_cast<BaseDraw*>(bd), x, y, qualifier);
}
int32_t MoveHandle(HostNodeData* d, HostAtom* op, HostAtom* undo, const HostVector* mouse,
                   int32_t hit_id, int32_t qualifier, HostBaseDraw* bd) {
    const Vector m = mouse != nullptr ? Vector(mouse->x, mouse->y, mouse->z) : Vector();
    return Res(
        Obj(d)->MoveHandle(B(op), B(undo), m, hit_id, qualifier, reinterpret_cast<BaseDraw*>(bd)));
}
int32_t Execute(HostNodeData* d, HostAtom* op, HostDocument* doc, HostThread* bt, int32_t priority,
                int32_t flags) {
    return Obj(d)->Execute(B(op), reinterpret_cast<BaseDocument*>(doc),
                           reinterpret_cast<BaseThread*>(bt), priority, flags);
}
int32_t AddToExecution(HostNodeData* d, HostAtom* op, void* list) {
    return Res(Obj(d)->AddToExecution(B(op), list));
}
void GetModelingAxis(HostNodeData* d, HostAtom* op, HostDocument* doc, HostMatrix* axis) {
    Obj(d)->GetModelingAxis(B(op), reinterpret_cast<BaseDocument*>(doc),
                            reinterpret_cast<Matrix*>(axis));
}
HostAtom* GetVirtualObjects(HostNodeData* d, HostAtom* op, void* hh) {
    return reinterpret_cast<HostAtom*>(Obj(d)->GetVirtualObjects(B(op), hh));
}
int32_t ModifyObject(HostNodeData* d, HostAtom* mod, HostDocument* doc, HostAtom* op,
                     const HostMatrix* op_mg, const HostMatrix* mod_mg, double lod, int32_t flags,
                     HostThread* thread) {
    return Res(Obj(d)->ModifyObject(B(mod), reinterpret_cast<BaseDocument*>(doc), B(op),
                                    reinterpret_cast<const Matrix*>(op_mg),
                                    reinterpret_cast<const Matrix*>(mod_mg), lod, flags,
                                    reinterpret_cast<BaseThread*>(thread)));
}
void CheckDirty(HostNodeData* d, HostAtom* op, HostDocument* doc) {
    Obj(d)->CheckDirty(B(op), reinterpret_cast<BaseDocument*>(doc));
}
HostAtom* GetContour(HostNodeData* d, HostAtom* op, HostDocument* doc, double lod, HostThread* bt) {
    return reinterpret_cast<HostAtom*>(Obj(d)->GetContour(
        B(op), reinterpret_cast<BaseDocument*>(doc), lod, reinterpret_cast<BaseThread*>(bt)));
}
void ModifyParticles(HostNodeData* d, HostAtom* op, void* pp, void* ss, int32_t pcnt, double diff) {
    Obj(d)->ModifyParticles(B(op), pp, ss, pcnt, diff);
}

// The allocation function the record carries; one registered type per library.
DataAllocator g_allocator = nullptr;
HostNodeData* AllocEntry() {
    return g_allocator != nullptr ? Allocate(g_allocator) : nullptr;
}

}  // namespace

void FillObjectPluginRecord(HostObjectPluginRecord* record, Int32 info, DataAllocator alloc,
                            HostBitmap* icon, Int32 disklevel) {
    g_allocator = alloc;

    record->node.info = info;
    record->node.Destroy = Destroy;
    record->node.diskLevel = disklevel;
    record->node.reserved = nullptr;
    record->node.icon = icon;
    record->node.Alloc = AllocEntry;
    // Each operation entry holds one of the functions above, which take the object first as a
    // member function takes this; where an entry is 16 bytes wide, its adjustment stays 0.
    record->node.Init.function = Init;
    record->node.Free.function = FreeNode;
    record->node.Read.function = Read;
    record->node.Write.function = Write;
    record->node.Message.function = Message;
    record->node.CopyTo.function = CopyTo;
    record->node.GetBubbleHelp.function = GetBubbleHelp;
    record->node.GetDocument.function = GetDocument;
    record->node.GetBranchInfo.function = GetBranchInfo;
    record->node.IsInstanceOf.function = IsInstanceOf;
    record->node.GetDDescription.function = GetDDescription;
    record->node.GetDParameter.function = GetDParameter;
    record->node.SetDParameter.function = SetDParameter;
    record->node.GetDEnabling.function = GetDEnabling;
    record->node.TranslateDescID.function = TranslateDescID;
    record->node.IsDocumentRelated.function = IsDocumentRelated;

    record->icon = icon;
    record->GetDimension.function = GetDimension;
    record->Draw.function = Draw;
    record->DetectHandle.function = DetectHandle;
    record->MoveHandle.function = MoveHandle;
    record->Execute.function = Execute;
    record->AddToExecution.function = AddToExecution;
    record->GetModelingAxis.function = GetModelingAxis;
    record->CheckDirty.function = CheckDirty;
    // Entries that only some kinds of object have follow the info flags.
    if ((info & OBJECT_GENERATOR) != 0) record->GetVirtualObjects.function = GetVirtualObjects;
    if ((info & OBJECT_MODIFIER) != 0) record->ModifyObject.function = ModifyObject;
    if ((info & OBJECT_ISSPLINE) != 0) record->GetContour.function = GetContour;
    if ((info & OBJECT_PARTICLEMODIFIER) != 0) record->ModifyParticles.function = ModifyParticles;
}
