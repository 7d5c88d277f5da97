#include "platform/uikit/table_view.h"

#include <cstdio>

#include "platform/uikit/screen.h"

namespace uikit {

// ---- cells ----

TableViewCell::TableViewCell(TableViewCellStyle style, std::optional<std::string> reuseIdentifier)
    : View(Rect{0, 0, 320, 44}), style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  contentView_ = std::make_shared<View>(bounds());
  contentView_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  textLabel_ = std::make_shared<Label>();
  imageView_ = std::make_shared<ImageView>();
  if (style != TableViewCellStyle::Default) {
    detailTextLabel_ = std::make_shared<Label>();
    if (style == TableViewCellStyle::Subtitle) detailTextLabel_->setFont(Font::systemFontOfSize(12));
  }
}

void TableViewCell::setAccessoryView(const std::shared_ptr<View>& v) {
  if (accessoryView_ && accessoryView_->superview().get() == this) accessoryView_->removeFromSuperview();
  accessoryView_ = v;
  setNeedsLayout();
}

void TableViewCell::layoutSubviews() {
  // The content view, then the accessory at the right; the labels live in the content view.
  if (contentView_->superview().get() != this) insertSubviewAtIndex(contentView_, 0);
  double accessoryWidth = 0;
  if (accessoryView_) {
    Rect a = accessoryView_->frame();
    accessoryWidth = a.size.width + 15;
    accessoryView_->setFrame({bounds().size.width - accessoryWidth, (bounds().size.height - a.size.height) / 2,
                              a.size.width, a.size.height});
    if (accessoryView_->superview().get() != this) addSubview(accessoryView_);
  } else if (accessoryType_ != TableViewCellAccessoryType::None) {
    accessoryWidth = 33;
  }
  contentView_->setFrame({0, 0, std::max(0.0, bounds().size.width - accessoryWidth), bounds().size.height});
  double w = contentView_->bounds().size.width, h = bounds().size.height;
  for (auto& l : {textLabel_, detailTextLabel_})
    if (l && l->superview() != contentView_ && !l->text().empty()) contentView_->addSubview(l);
  bool hasDetail = detailTextLabel_ && !detailTextLabel_->text().empty();
  if (style_ == TableViewCellStyle::Subtitle && hasDetail) {
    textLabel_->setFrame({15, h / 2 - 20, w - 30, 20});
    detailTextLabel_->setFrame({15, h / 2, w - 30, 16});
  } else {
    textLabel_->setFrame({15, 0, w / 2, h});
    if (detailTextLabel_) detailTextLabel_->setFrame({w / 2, 0, w / 2 - 15, h});
  }
}

TableViewHeaderFooterView::TableViewHeaderFooterView(Rect frame) : View(frame) {
  backgroundView_ = std::make_shared<View>(bounds());
  backgroundView_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  textLabel_ = std::make_shared<Label>(Rect{15, 0, std::max(0.0, frame.size.width - 30), frame.size.height});
  textLabel_->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
}

void TableViewHeaderFooterView::layoutSubviews() {
  if (backgroundView_->superview().get() != this) insertSubviewAtIndex(backgroundView_, 0);
  if (textLabel_->superview().get() != this) addSubview(textLabel_);
}

// ---- table ----

TableView::TableView(Rect frame, TableViewStyle style)
    : ScrollView(frame), style_(style), sectionHeaderHeight_(style == TableViewStyle::Grouped ? 28 : 22) {}

long TableView::numberOfRowsInSection(long section) const {
  if (section < 0 || section >= numberOfSections()) return 0;
  return long(sections_[std::size_t(section)].cells.size());
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(IndexPath ip) const {
  if (ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section)) return nullptr;
  return sections_[std::size_t(ip.section)].cells[std::size_t(ip.row)];
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() const {
  std::vector<std::shared_ptr<TableViewCell>> out;
  for (auto& s : sections_) out.insert(out.end(), s.cells.begin(), s.cells.end());
  return out;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() const {
  std::vector<IndexPath> out;
  for (long s = 0; s < numberOfSections(); ++s)
    for (long r = 0; r < numberOfRowsInSection(s); ++r) out.push_back({s, r});
  return out;
}

std::shared_ptr<TableViewHeaderFooterView> TableView::headerViewForSection(long section) const {
  if (section < 0 || section >= numberOfSections()) return nullptr;
  return sections_[std::size_t(section)].header;
}

std::optional<std::string> TableView::titleForHeaderInSection(long section) const {
  if (section < 0 || section >= numberOfSections()) return std::nullopt;
  return sections_[std::size_t(section)].title;
}

Rect TableView::rectForRowAtIndexPath(IndexPath ip) const {
  if (ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section)) return RectZero;
  return sections_[std::size_t(ip.section)].rects[std::size_t(ip.row)];
}

void TableView::setContentOffset(Point p) { setBounds({p, bounds().size}); }

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  auto it = reusePool_.find(identifier);
  if (it == reusePool_.end() || it->second.empty()) return nullptr;
  auto cell = it->second.back();
  it->second.pop_back();
  cell->prepareForReuse();
  return cell;
}

void TableView::setTableHeaderView(std::shared_ptr<View> v) {
  if (tableHeaderView_) tableHeaderView_->removeFromSuperview();
  tableHeaderView_ = std::move(v);
  if (loaded_) reloadData();
}

void TableView::setTableFooterView(std::shared_ptr<View> v) {
  if (tableFooterView_) tableFooterView_->removeFromSuperview();
  tableFooterView_ = std::move(v);
  if (loaded_) reloadData();
}

void TableView::reloadData() {
  // Off screen, the cells are built when the table is next laid out in a window.
  if (!window()) {
    reloadPending_ = true;
    setNeedsLayout();
    return;
  }
  buildCells();
}

void TableView::buildCells() {
  if (reloading_) return;  // a data source that reloads from inside a reload
  reloading_ = true;
  reloadPending_ = false;
  loaded_ = true;
  auto self = std::static_pointer_cast<TableView>(shared_from_this());
  for (auto& s : sections_) {
    if (s.header) s.header->removeFromSuperview();
    for (auto& c : s.cells) {
      c->removeFromSuperview();
      if (c->reuseIdentifier()) reusePool_[*c->reuseIdentifier()].push_back(c);
    }
  }
  sections_.clear();
  selected_.reset();

  auto ds = dataSource();
  auto del = delegate();
  double width = bounds().size.width;
  double y = 0;
  if (tableHeaderView_) {
    tableHeaderView_->setFrame({0, 0, width, tableHeaderView_->frame().size.height});
    addSubview(tableHeaderView_);
    y += tableHeaderView_->frame().size.height;
  }
  long sectionCount = ds ? std::max(0L, ds->numberOfSectionsInTableView(self)) : 0;
  for (long s = 0; s < sectionCount; ++s) {
    Section section;
    section.title = ds->tableViewTitleForHeaderInSection(self, s);
    double headerHeight = sectionHeaderHeight_;
    if (del)
      if (auto h = del->tableViewHeightForHeaderInSection(self, s)) headerHeight = *h;
    if (!section.title && style_ == TableViewStyle::Plain && !(del && del->tableViewHeightForHeaderInSection(self, s)))
      headerHeight = 0;  // a plain table draws no header without a title
    if (headerHeight > 0) {
      section.header = std::make_shared<TableViewHeaderFooterView>(Rect{0, y, width, headerHeight});
      if (section.title) section.header->textLabel()->setText(*section.title);
      addSubview(section.header);
      section.header->layoutIfNeeded();
      if (del) del->tableViewWillDisplayHeaderViewForSection(self, section.header, s);
      y += headerHeight;
    }
    long rows = std::max(0L, ds->tableViewNumberOfRowsInSection(self, s));
    for (long r = 0; r < rows; ++r) {
      IndexPath ip{s, r};
      auto cell = ds->tableViewCellForRowAtIndexPath(self, ip);
      if (!cell) {
        std::fprintf(stderr, "Warning: the table's data source gave no cell for row %ld of section %ld\n", r, s);
        cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, std::nullopt);
      }
      double h = rowHeight_;
      if (del)
        if (auto rh = del->tableViewHeightForRowAtIndexPath(self, ip)) h = *rh;
      Rect rect{0, y, width, h};
      cell->setFrame(rect);
      cell->setAutoresizingMask(ViewAutoresizingFlexibleWidth);
      addSubview(cell);
      cell->setNeedsLayout();
      cell->layoutIfNeeded();
      section.cells.push_back(cell);
      section.rects.push_back(rect);
      y += h;
    }
    sections_.push_back(std::move(section));
  }
  if (tableFooterView_) {
    tableFooterView_->setFrame({0, y, width, tableFooterView_->frame().size.height});
    addSubview(tableFooterView_);
    y += tableFooterView_->frame().size.height;
  }
  contentSize_ = {width, y};
  reloading_ = false;
}

void TableView::layoutSubviews() {
  if ((!loaded_ || reloadPending_) && window()) buildCells();
}

void TableView::selectRowAtIndexPath(IndexPath ip, bool animated) {
  auto cell = cellForRowAtIndexPath(ip);
  if (!cell) return;
  if (selected_)
    if (auto old = cellForRowAtIndexPath(*selected_)) old->setSelectedAnimated(false, animated);
  selected_ = ip;
  if (cell->selectionStyle() != TableViewCellSelectionStyle::None) cell->setSelectedAnimated(true, animated);
}

void TableView::deselectRowAtIndexPathAnimated(IndexPath ip, bool animated) {
  if (auto cell = cellForRowAtIndexPath(ip)) cell->setSelectedAnimated(false, animated);
  if (selected_ == ip) selected_.reset();
}

bool TableView::userSelectRowAtIndexPath(IndexPath ip) {
  auto cell = cellForRowAtIndexPath(ip);
  if (!cell || !allowsSelection_ || !isUserInteractionEnabled() || !cell->isUserInteractionEnabled() ||
      !isEffectivelyVisible())
    return false;
  selectRowAtIndexPath(ip, false);
  auto del = delegate();
  if (!del) return false;
  del->tableViewDidSelectRowAtIndexPath(std::static_pointer_cast<TableView>(shared_from_this()), ip);
  return true;
}

// ---- controller ----

void TableViewController::loadView() {
  auto table = std::make_shared<TableView>(Screen::mainScreen().bounds(), style_);
  setTableView(table);
}

std::shared_ptr<TableView> TableViewController::tableView() {
  if (!tableView_) view();
  return tableView_;
}

void TableViewController::setTableView(const std::shared_ptr<TableView>& table) {
  bool viewIsTable = !isViewLoaded() || (tableView_ && view() == tableView_);
  tableView_ = table;
  if (table) {
    auto self = std::dynamic_pointer_cast<TableViewController>(shared_from_this());
    table->setDataSource(std::static_pointer_cast<TableViewDataSource>(self));
    table->setDelegate(std::static_pointer_cast<TableViewDelegate>(self));
  }
  if (viewIsTable && table) setView(table);
}

void TableViewController::viewWillAppear(bool animated) {
  if (auto t = tableView(); t && !t->hasLoadedData()) t->reloadData();
}

}  // namespace uikit
