#pragma once
// A small component framework: owners that own and destroy their components, names, the
// "form is loading" and "being destroyed" states, and the removal notification that lets
// a component drop references to one that goes away.

#include <functional>
#include <string>
#include <vector>

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::vector<TComponent*>& Components() const { return components_; }
  TComponent* FindComponent(const std::string& name) const;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  long Tag = 0;

  bool IsLoading() const { return loading_; }
  bool IsDestroying() const { return destroying_; }
  bool IsDesigning() const { return designing_; }
  void SetDesigning(bool value) { designing_ = value; }

  // Loading a form: the owner and all its components are "loading" until EndLoading, which
  // clears the state and calls Loaded on every component in creation order.
  void BeginLoading();
  void EndLoading();

  // Asks to be told (Notification opRemove) when `other` is destroyed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

 protected:
  virtual void Loaded() {}
  virtual void Notification(TComponent* /*component*/, TOperation /*op*/) {}
  // Each destructor level that behaves differently while dying calls this first.
  void Destroying() { destroying_ = true; }

 private:
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  static void Unlink(std::vector<TComponent*>& list, TComponent* c);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  std::string name_;
  bool loading_ = false;
  bool destroying_ = false;
  bool designing_ = false;
};

// Hears the components it watches go: what a plain object (a widget, an observer) keeps to drop
// its references to components that are destroyed.
class TFreeWatch : public TComponent {
 public:
  explicit TFreeWatch(std::function<void(TComponent* gone)> onGone) : onGone_(std::move(onGone)) {}
  // Stops watching `from` and watches `to`; either may be none.
  void Move(TComponent* from, TComponent* to) {
    if (from) RemoveFreeNotification(from);
    if (to) FreeNotification(to);
  }

 protected:
  void Notification(TComponent* component, TOperation op) override {
    if (op == TOperation::opRemove && onGone_) onGone_(component);
  }

 private:
  std::function<void(TComponent*)> onGone_;
};
