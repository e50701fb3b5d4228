// The small object framework the port is built on: objects with a class name,
// persistent objects that copy from each other, and components with an owner that
// frees what it owns, a name, and a loading state.
#pragma once

#include <string>
#include <vector>

namespace comport {

class TObject {
 public:
  virtual ~TObject() = default;
  virtual std::string ClassName() const = 0;
};

class TPersistent : public TObject {};

class TComponent : public TPersistent {
 public:
  // Registers with the owner, which destroys this component when it is itself destroyed.
  // Components with an owner must live on the heap; without one, anywhere.
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& value) { name_ = value; }

  // Restoring from a stored description: BeginLoading enters the loading state,
  // EndLoading leaves it (descendants act on the restored values after calling the base).
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  virtual void EndLoading() { loading_ = false; }

 private:
  void Remove(TComponent* child);

  TComponent* owner_;
  std::string name_;
  bool loading_ = false;
  std::vector<TComponent*> owned_;
};

}  // namespace comport
