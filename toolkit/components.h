// Persistent objects and components: Assign, ownership, removal notification, and the
// published-property protocol that component streaming (componentstream.h) reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One value of a published property as it travels through a component stream.
struct TPropValue {
  enum class Kind { Integer, String, Boolean, Ident, List };
  Kind kind = Kind::Integer;
  int64_t integer = 0;
  std::string text;  // String and Ident (enumeration value names such as meMIME)
  bool boolean = false;
  std::vector<TPropValue> list;

  static TPropValue Int(int64_t v) {
    TPropValue p;
    p.kind = Kind::Integer;
    p.integer = v;
    return p;
  }
  static TPropValue Str(std::string v) {
    TPropValue p;
    p.kind = Kind::String;
    p.text = std::move(v);
    return p;
  }
  static TPropValue Bool(bool v) {
    TPropValue p;
    p.kind = Kind::Boolean;
    p.boolean = v;
    return p;
  }
  static TPropValue Ident(std::string v) {
    TPropValue p;
    p.kind = Kind::Ident;
    p.text = std::move(v);
    return p;
  }
  static TPropValue List(std::vector<TPropValue> v) {
    TPropValue p;
    p.kind = Kind::List;
    p.list = std::move(v);
    return p;
  }
  bool operator==(const TPropValue&) const = default;
};

class TPersistent;

// Receives the published properties of an object in their declared order.
class TPropertyWriter {
 public:
  virtual ~TPropertyWriter() = default;
  virtual void Property(const std::string& name, const TPropValue& value) = 0;
  // A persistent sub-object (such as a message's Sender): its own properties, named "Name.Sub".
  void Object(const std::string& name, const TPersistent& object);
};

class TPersistent {
 public:
  virtual ~TPersistent() = default;
  virtual const char* ClassName() const { return "TPersistent"; }
  // Copies Source into this object. The default hands over to Source.AssignTo, whose default
  // raises the assignment error.
  virtual void Assign(const TPersistent& source);

  // Published properties, in declared order; a property at its declared default is left out.
  virtual void WriteProperties(TPropertyWriter& /*writer*/) const {}
  // Sets one published property by name (through its setter); false for an unknown name.
  virtual bool ReadProperty(const std::string& /*name*/, const TPropValue& /*value*/) { return false; }
  // The persistent sub-object published under name, or nullptr.
  virtual TPersistent* SubObject(const std::string& /*name*/) { return nullptr; }

 protected:
  virtual void AssignTo(TPersistent& dest) const;
};

enum class TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  const char* ClassName() const override { return "TComponent"; }

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  intptr_t Tag() const { return tag_; }
  void SetTag(intptr_t tag) { tag_ = tag; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;

  // Asks for a Notification(this, opRemove) on other when this component goes away, for
  // components that refer to each other without owning.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  bool Designing() const { return designing_; }
  void SetDesigning(bool designing) { designing_ = designing; }
  bool Loading() const { return loading_; }
  void SetLoading(bool loading) { loading_ = loading; }
  bool Destroying() const { return destroying_; }

  // Runs after the component's properties were read from a stream.
  virtual void Loaded() {}

  void WriteProperties(TPropertyWriter& writer) const override;
  bool ReadProperty(const std::string& name, const TPropValue& value) override;

 protected:
  // Told about components inserted into or removed from the owner, and about components this
  // one asked FreeNotification of. Overrides clear their references and call the base.
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* owner_ = nullptr;
  std::string name_;
  intptr_t tag_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  bool designing_ = false;
  bool loading_ = false;
  bool destroying_ = false;
};

// Enumeration names for streaming: the index of name in names, or -1.
int IdentIndex(const std::string& name, std::initializer_list<const char*> names);
