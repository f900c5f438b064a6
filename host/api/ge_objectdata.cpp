// The base behaviour of the host's object class operations, for types that do not override them.
#include "ge_objectdata.h"

BaseData::~BaseData() = default;

bool NodeData::Init(GeListNode*) {
    return true;
}
void NodeData::Free(GeListNode*) {}
bool NodeData::Read(GeListNode*, HyperFile*, Int32) {
    return true;
}
bool NodeData::Write(GeListNode*, HyperFile*) {
    return true;
}
bool NodeData::Message(GeListNode*, Int32, void*) {
    return true;
}
bool NodeData::CopyTo(NodeData*, GeListNode*, GeListNode*, Int32, AliasTrans*) {
    return true;
}
void NodeData::GetBubbleHelp(GeListNode*, String&) {}
BaseDocument* NodeData::GetDocument(GeListNode*) {
    return nullptr;
}
Int32 NodeData::GetBranchInfo(GeListNode*, void*, Int32, Int32) {
    return 0;
}
bool NodeData::IsInstanceOf(const GeListNode*, Int32) const {
    return false;
}
bool NodeData::GetDDescription(GeListNode*, Description*, Int32*) {
    return false;
}
bool NodeData::GetDParameter(GeListNode*, const HostDescIDData*, GeData*, Int32*) {
    return true;
}
bool NodeData::SetDParameter(GeListNode*, const HostDescIDData*, const GeData*, Int32*) {
    return true;
}
bool NodeData::GetDEnabling(GeListNode*, const HostDescIDData*, const GeData*, Int32, const void*) {
    return true;
}
bool NodeData::TranslateDescID(GeListNode*, const HostDescIDData*, HostDescIDData*, C4DAtom**) {
    return false;
}
bool NodeData::IsDocumentRelated(const GeListNode*, bool*) const {
    return false;
}

void ObjectData::GetDimension(BaseObject*, Vector*, Vector*) {}

Int32 ObjectData::Draw(BaseObject* op, Int32 drawpass, BaseDraw* bd, BaseDrawHelp*) {
    if (drawpass != DRAWPASS_HANDLES) return DRAWRESULT_SKIP;
    const Int32 count = GetHandleCount(op);
    if (count <= 0) return DRAWRESULT_SKIP;
    HostBaseDraw* draw = reinterpret_cast<HostBaseDraw*>(bd);
    for (Int32 i = 0; i < count; ++i) {
        HandleInfo info = {};
        GetHandle(op, i, info);
        const HostVector p = {info.position.x, info.position.y, info.position.z};
        Host().draw.DrawHandle(draw, &p, info.type);
    }
    return DRAWRESULT_OK;
}

Int32 ObjectData::DetectHandle(BaseObject* op, BaseDraw* bd, Int32 x, Int32 y, Int32 qualifier) {
    // A held control key means "no handle", as everywhere in the host's viewports.
    if ((qualifier & QUALIFIER_CTRL) != 0) return -1;
    const Int32 count = GetHandleCount(op);
    HostBaseDraw* draw = reinterpret_cast<HostBaseDraw*>(bd);
    for (Int32 i = 0; i < count; ++i) {
        HandleInfo info = {};
        GetHandle(op, i, info);
        const HostVector p = {info.position.x, info.position.y, info.position.z};
        if (Host().draw.PointInRange(draw, &p, x, y) != 0) return i;
    }
    return -1;
}

bool ObjectData::MoveHandle(BaseObject* op, BaseObject*, const Vector& mouse_pos, Int32 hit_id,
                            Int32, BaseDraw*) {
    HandleInfo info = {};
    GetHandle(op, hit_id, info);
    // A handle with a direction slides along it: project the pointer onto that line.
    const Vector& d = info.direction;
    const Float dd = d.x * d.x + d.y * d.y + d.z * d.z;
    Vector p = mouse_pos;
    if (dd > 0.0) {
        const Vector rel(mouse_pos.x - info.position.x, mouse_pos.y - info.position.y,
                         mouse_pos.z - info.position.z);
        const Float s = (rel.x * d.x + rel.y * d.y + rel.z * d.z) / dd;
        p = Vector(info.position.x + d.x * s, info.position.y + d.y * s, info.position.z + d.z * s);
    }
    SetHandle(op, hit_id, p, info);
    return true;
}

Int32 ObjectData::Execute(BaseObject*, BaseDocument*, BaseThread*, Int32, Int32) {
    return 0;
}
bool ObjectData::AddToExecution(BaseObject*, void*) {
    return false;
}
void ObjectData::GetModelingAxis(BaseObject*, BaseDocument*, Matrix*) {}
BaseObject* ObjectData::GetVirtualObjects(BaseObject*, void*) {
    return nullptr;
}
bool ObjectData::ModifyObject(BaseObject*, BaseDocument*, BaseObject*, const Matrix*, const Matrix*,
                              Float, Int32, BaseThread*) {
    return true;
}
void ObjectData::CheckDirty(BaseObject*, BaseDocument*) {}
SplineObject* ObjectData::GetContour(BaseObject*, BaseDocument*, Float, BaseThread*) {
    return nullptr;
}
void ObjectData::ModifyParticles(BaseObject*, void*, void*, Int32, Float) {}
Int32 ObjectData::GetHandleCount(BaseObject*) {
    return 0;
}
void ObjectData::GetHandle(BaseObject*, Int32, HandleInfo&) {}
void ObjectData::SetHandle(BaseObject*, Int32, Vector, const HandleInfo&) {}
