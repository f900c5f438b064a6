// The host's object base classes. A plug-in object type derives from ObjectData and overrides
// what it needs; every other operation keeps the base behaviour below. The virtual operations
// are declared in the order of the host interface (1 is the destructor); the registration
// record has one entry per operation.
#ifndef KORRAND_GE_OBJECTDATA_H
#define KORRAND_GE_OBJECTDATA_H

#include "ge_memory.h"
#include "ge_scene.h"

struct HandleInfo {
    Vector position;
    Vector direction;
    Int32 type;
};
static_assert(sizeof(HandleInfo) == sizeof(HostHandleInfo), "HandleInfo matches the host");

class BaseData {
public:
    BaseData() = default;
    virtual ~BaseData();  // 1
    BaseData(const BaseData&) = delete;
    BaseData& operator=(const BaseData&) = delete;

    // Objects live in host memory: created with placement new on GeAllocZeroed storage, and
    // the deleting destructor hands the storage back to the host.
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void operator delete(void* p) { GeFree(p); }
    static void operator delete(void*, void*) noexcept {}
};

class NodeData : public BaseData {
public:
    virtual bool Init(GeListNode* node);                              // 2
    virtual void Free(GeListNode* node);                              // 3
    virtual bool Read(GeListNode* node, HyperFile* hf, Int32 level);  // 4
    virtual bool Write(GeListNode* node, HyperFile* hf);              // 5
    virtual bool Message(GeListNode* node, Int32 type, void* data);   // 6
    virtual bool CopyTo(NodeData* dest, GeListNode* snode, GeListNode* dnode, Int32 flags,
                        AliasTrans* trn);                                               // 7
    virtual void GetBubbleHelp(GeListNode* node, String& str);                          // 8
    virtual BaseDocument* GetDocument(GeListNode* node);                                // 9
    virtual Int32 GetBranchInfo(GeListNode* node, void* info, Int32 max, Int32 flags);  // 10
    virtual bool IsInstanceOf(const GeListNode* node, Int32 type) const;                // 11
    virtual bool GetDDescription(GeListNode* node, Description* description,
                                 Int32* flags);  // 12
    virtual bool GetDParameter(GeListNode* node, const HostDescIDData* id, GeData* t_data,
                               Int32* flags);  // 13
    virtual bool SetDParameter(GeListNode* node, const HostDescIDData* id, const GeData* t_data,
                               Int32* flags);  // 14
    virtual bool GetDEnabling(GeListNode* node, const HostDescIDData* id, const GeData* t_data,
                              Int32 flags, const void* itemdesc);  // 15
    virtual bool TranslateDescID(GeListNode* node, const HostDescIDData* id, HostDescIDData* res_id,
                                 C4DAtom** res_at);                                  // 16
    virtual bool IsDocumentRelated(const GeListNode* node, bool* docrelated) const;  // 17
};

class ObjectData : public NodeData {
public:
    virtual void GetDimension(BaseObject* op, Vector* mp, Vector* rad);                  // 18
    virtual Int32 Draw(BaseObject* op, Int32 drawpass, BaseDraw* bd, BaseDrawHelp* bh);  // 19
    virtual Int32 DetectHandle(BaseObject* op, BaseDraw* bd, Int32 x, Int32 y,
                               Int32 qualifier);  // 20
    virtual bool MoveHandle(BaseObject* op, BaseObject* undo, const Vector& mouse_pos, Int32 hit_id,
                            Int32 qualifier, BaseDraw* bd);  // 21
    virtual Int32 Execute(BaseObject* op, BaseDocument* doc, BaseThread* bt, Int32 priority,
                          Int32 flags);                                             // 22
    virtual bool AddToExecution(BaseObject* op, void* list);                        // 23
    virtual void GetModelingAxis(BaseObject* op, BaseDocument* doc, Matrix* axis);  // 24
    virtual BaseObject* GetVirtualObjects(BaseObject* op, void* hh);                // 25
    virtual bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op,
                              const Matrix* op_mg, const Matrix* mod_mg, Float lod, Int32 flags,
                              BaseThread* thread);               // 26
    virtual void CheckDirty(BaseObject* op, BaseDocument* doc);  // 27
    virtual SplineObject* GetContour(BaseObject* op, BaseDocument* doc, Float lod,
                                     BaseThread* bt);  // 28
    virtual void ModifyParticles(BaseObject* op, void* pp, void* ss, Int32 pcnt,
                                 Float diff);                                           // 29
    virtual Int32 GetHandleCount(BaseObject* op);                                       // 30
    virtual void GetHandle(BaseObject* op, Int32 i, HandleInfo& info);                  // 31
    virtual void SetHandle(BaseObject* op, Int32 i, Vector p, const HandleInfo& info);  // 32
};

#endif
