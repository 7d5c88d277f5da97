#pragma once
// Tables: sections of rows whose cells the data source builds (reusing cells by
// identifier), headers, selection, and the table view controller. A reload builds
// every row's cell, in order, and keeps them as the visible cells; the tables of this
// system are short.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/controls.h"
#include "platform/uikit/scroll_view.h"
#include "platform/uikit/view_controller.h"

namespace uikit {

struct IndexPath {
  long section = 0;
  long row = 0;
  static IndexPath indexPathForRowInSection(long row, long section) { return {section, row}; }
  auto operator<=>(const IndexPath&) const = default;
};

enum class TableViewStyle { Plain = 0, Grouped = 1 };
enum class TableViewCellStyle { Default = 0, Value1 = 1, Value2 = 2, Subtitle = 3 };
enum class TableViewCellAccessoryType { None = 0, DisclosureIndicator = 1, DetailDisclosureButton = 2, Checkmark = 3 };
enum class TableViewCellSelectionStyle { None = 0, Blue = 1, Gray = 2, Default = 3 };

class TableViewCell : public View {
 public:
  TableViewCell(TableViewCellStyle style, std::optional<std::string> reuseIdentifier);
  std::string className() const override { return "TableViewCell"; }

  TableViewCellStyle style() const { return style_; }
  const std::optional<std::string>& reuseIdentifier() const { return reuseIdentifier_; }
  std::shared_ptr<View> contentView() const { return contentView_; }
  std::shared_ptr<Label> textLabel() const { return textLabel_; }
  // None for the default style, which has no detail text.
  std::shared_ptr<Label> detailTextLabel() const { return detailTextLabel_; }
  std::shared_ptr<ImageView> imageView() const { return imageView_; }

  TableViewCellAccessoryType accessoryType() const { return accessoryType_; }
  void setAccessoryType(TableViewCellAccessoryType t) { accessoryType_ = t; }
  // A view shown in place of the accessory type (a switch, say).
  std::shared_ptr<View> accessoryView() const { return accessoryView_; }
  void setAccessoryView(const std::shared_ptr<View>& v);
  TableViewCellSelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(TableViewCellSelectionStyle s) { selectionStyle_ = s; }
  std::shared_ptr<View> selectedBackgroundView() const { return selectedBackgroundView_; }
  void setSelectedBackgroundView(std::shared_ptr<View> v) { selectedBackgroundView_ = std::move(v); }
  bool isSelected() const { return selected_; }
  void setSelectedAnimated(bool selected, bool animated) { selected_ = selected; }

  virtual void prepareForReuse() { selected_ = false; }
  void layoutSubviews() override;

 private:
  TableViewCellStyle style_;
  std::optional<std::string> reuseIdentifier_;
  std::shared_ptr<View> contentView_;
  std::shared_ptr<Label> textLabel_;
  std::shared_ptr<Label> detailTextLabel_;
  std::shared_ptr<ImageView> imageView_;
  TableViewCellAccessoryType accessoryType_ = TableViewCellAccessoryType::None;
  std::shared_ptr<View> accessoryView_;
  TableViewCellSelectionStyle selectionStyle_ = TableViewCellSelectionStyle::Default;
  std::shared_ptr<View> selectedBackgroundView_;
  bool selected_ = false;
};

class TableViewHeaderFooterView : public View {
 public:
  explicit TableViewHeaderFooterView(Rect frame);
  std::string className() const override { return "TableViewHeaderFooterView"; }
  std::shared_ptr<Label> textLabel() const { return textLabel_; }
  std::shared_ptr<View> backgroundView() const { return backgroundView_; }
  void layoutSubviews() override;

 private:
  std::shared_ptr<Label> textLabel_;
  std::shared_ptr<View> backgroundView_;
};

class TableView;

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual long numberOfSectionsInTableView(const std::shared_ptr<TableView>& tableView) { return 1; }
  virtual long tableViewNumberOfRowsInSection(const std::shared_ptr<TableView>& tableView, long section) = 0;
  virtual std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(const std::shared_ptr<TableView>& tableView,
                                                                        IndexPath indexPath) = 0;
  virtual std::optional<std::string> tableViewTitleForHeaderInSection(const std::shared_ptr<TableView>& tableView,
                                                                      long section) {
    return std::nullopt;
  }
};

// Heights answered as none fall back to the table's own heights.
class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  virtual std::optional<double> tableViewHeightForRowAtIndexPath(const std::shared_ptr<TableView>& tableView,
                                                                 IndexPath indexPath) {
    return std::nullopt;
  }
  virtual std::optional<double> tableViewHeightForHeaderInSection(const std::shared_ptr<TableView>& tableView,
                                                                  long section) {
    return std::nullopt;
  }
  virtual void tableViewWillDisplayHeaderViewForSection(const std::shared_ptr<TableView>& tableView,
                                                        const std::shared_ptr<TableViewHeaderFooterView>& view,
                                                        long section) {}
  virtual void tableViewDidSelectRowAtIndexPath(const std::shared_ptr<TableView>& tableView, IndexPath indexPath) {}
};

class TableView : public ScrollView {
 public:
  TableView(Rect frame, TableViewStyle style);
  std::string className() const override { return "TableView"; }

  TableViewStyle style() const { return style_; }
  void setDataSource(std::weak_ptr<TableViewDataSource> ds) { dataSource_ = std::move(ds); }
  std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDelegate(std::weak_ptr<TableViewDelegate> d) { delegate_ = std::move(d); }
  std::shared_ptr<TableViewDelegate> delegate() const { return delegate_.lock(); }

  // Builds every row's cell again through the data source; the cells shown so far go
  // back to the reuse pool first. A table that is not in a window builds them at its
  // next layout in one, as the screen would ask for them only then.
  void reloadData();
  bool hasLoadedData() const { return loaded_; }
  bool hasPendingReload() const { return reloadPending_; }
  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);

  long numberOfSections() const { return long(sections_.size()); }
  long numberOfRowsInSection(long section) const;
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(IndexPath ip) const;
  std::vector<std::shared_ptr<TableViewCell>> visibleCells() const;
  std::vector<IndexPath> indexPathsForVisibleRows() const;
  std::shared_ptr<TableViewHeaderFooterView> headerViewForSection(long section) const;
  std::optional<std::string> titleForHeaderInSection(long section) const;
  // In the table's content coordinates; a zero rectangle for a row that is not there.
  Rect rectForRowAtIndexPath(IndexPath ip) const;

  Point contentOffset() const { return bounds().origin; }
  void setContentOffset(Point p);
  Size contentSize() const { return contentSize_; }

  // A finger taps a row: selects it (unless selection is off or the cell refuses
  // touches) and tells the delegate. Answers whether the delegate was told.
  bool userSelectRowAtIndexPath(IndexPath ip);
  void selectRowAtIndexPath(IndexPath ip, bool animated);
  void deselectRowAtIndexPathAnimated(IndexPath ip, bool animated);
  std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool on) { allowsSelection_ = on; }

  std::shared_ptr<View> tableHeaderView() const { return tableHeaderView_; }
  void setTableHeaderView(std::shared_ptr<View> v);
  std::shared_ptr<View> tableFooterView() const { return tableFooterView_; }
  void setTableFooterView(std::shared_ptr<View> v);
  std::optional<Color> separatorColor() const { return separatorColor_; }
  void setSeparatorColor(std::optional<Color> c) { separatorColor_ = c; }
  bool isEditing() const { return editing_; }
  void setEditing(bool on) { editing_ = on; }
  void setEditingAnimated(bool on, bool animated) { editing_ = on; }
  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double h) { rowHeight_ = h; }
  double sectionHeaderHeight() const { return sectionHeaderHeight_; }
  void setSectionHeaderHeight(double h) { sectionHeaderHeight_ = h; }
  bool cellLayoutMarginsFollowReadableWidth() const { return followsReadableWidth_; }
  void setCellLayoutMarginsFollowReadableWidth(bool on) { followsReadableWidth_ = on; }

  // The first showing loads the data when no one has yet, or a reload asked off screen.
  void layoutSubviews() override;

 private:
  void buildCells();
  struct Section {
    std::shared_ptr<TableViewHeaderFooterView> header;
    std::optional<std::string> title;
    std::vector<std::shared_ptr<TableViewCell>> cells;
    std::vector<Rect> rects;
  };

  TableViewStyle style_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> delegate_;
  std::vector<Section> sections_;
  std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusePool_;
  std::optional<IndexPath> selected_;
  std::shared_ptr<View> tableHeaderView_;
  std::shared_ptr<View> tableFooterView_;
  std::optional<Color> separatorColor_;
  Size contentSize_;
  double rowHeight_ = 44;
  double sectionHeaderHeight_;
  bool editing_ = false;
  bool allowsSelection_ = true;
  bool followsReadableWidth_ = true;
  bool loaded_ = false;
  bool reloading_ = false;
  bool reloadPending_ = false;
};

// A controller whose content is a table it serves as data source and delegate.
class TableViewController : public ViewController, public TableViewDataSource, public TableViewDelegate {
 public:
  explicit TableViewController(TableViewStyle style = TableViewStyle::Plain) : style_(style) {}
  std::string className() const override { return "TableViewController"; }

  // Makes a table of the controller's style the size of the main screen as the view.
  void loadView() override;
  // The table: the view made by loadView, or whichever table was set since.
  std::shared_ptr<TableView> tableView();
  // Sets the table; when the view is the old table (or not loaded), the table becomes the view.
  void setTableView(const std::shared_ptr<TableView>& table);
  // Loads the data on the first showing.
  void viewWillAppear(bool animated) override;

  long tableViewNumberOfRowsInSection(const std::shared_ptr<TableView>&, long) override { return 0; }
  std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(const std::shared_ptr<TableView>&,
                                                                IndexPath) override {
    return nullptr;
  }

 private:
  TableViewStyle style_;
  std::shared_ptr<TableView> tableView_;
};

}  // namespace uikit
